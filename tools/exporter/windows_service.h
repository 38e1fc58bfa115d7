// crvmon-exporter as a Windows service: installed and removed by the program itself or by the
// MSI, started at boot, brought back after a failure, and run by the service manager until its
// stop request, with a record of what it did in a log file and the event log.
#pragma once

#include <windows.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/exporter/exporter_log.h"
#include "tools/exporter/stop_signal.h"

namespace crvmon::exporter {

// The service's name, which is also its event source's.
constexpr const char* kServiceName = "crvmon-exporter";

// How the service manager brings the service back, the one place for it: --install-service and
// the MSI (through --configure-service) both set it. A restart after each of the first
// kRestarts failures, kRestartDelay after it; later failures leave it stopped until
// kResetPeriod without failure starts the count again. A stop with an exit code other than 0 (a
// port taken) is a failure too, not only a crash.
namespace recovery {
constexpr int kRestarts = 3;
constexpr std::chrono::seconds kRestartDelay{60};
constexpr std::chrono::seconds kResetPeriod{24 * 60 * 60};
}  // namespace recovery

// The settings above as ChangeServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS) takes them.
struct RecoveryActions {
    RecoveryActions();
    RecoveryActions(const RecoveryActions&) = delete;
    RecoveryActions& operator=(const RecoveryActions&) = delete;

    std::array<SC_ACTION, recovery::kRestarts + 1> actions{};
    SERVICE_FAILURE_ACTIONSW config{};  // points into actions
};

// Where the service writes its log (%ProgramData%\crvmon\crvmon-exporter.log), and the bound of
// one file of it: the previous one is kept beside it as .1.
std::filesystem::path serviceLogPath();
constexpr std::uintmax_t kServiceLogBytes = 1024 * 1024;

// Installs the service to start this executable at boot with `arguments` (the options given
// besides --install-service) and --service, with its recovery and its event source. Prints the
// outcome; returns the exit code.
int installService(const std::vector<std::string>& arguments);
// Stops the service (waiting for its process to end), removes it and its event source.
int uninstallService();
// The MSI's steps: the recovery of the service it installed; the stop of the running service
// before its files are removed, waited for to the end of the process.
int configureService();
int stopService();

// Hands the process to the service manager: `body` runs as the service and must return once
// its StopSignal is requested, which the stop request does. While it runs, `log` also writes to
// the log file and the event log. Returns the exit code.
int runService(ExporterLog& log, const std::function<int(StopSignal&)>& body);

}  // namespace crvmon::exporter
