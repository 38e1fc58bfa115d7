// crvmon-exporter as a Windows service: installed and removed by the program itself, and run
// by the service manager until its stop request.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/exporter/stop_signal.h"

namespace crvmon::exporter {

constexpr const char* kServiceName = "crvmon-exporter";

// Installs the service to start this executable with `arguments` (the options given besides
// --install-service) and --service. Prints the outcome; returns the exit code.
int installService(const std::vector<std::string>& arguments);
int uninstallService();

// Hands the process to the service manager: `body` runs as the service and must return once
// its StopSignal is requested, which the stop request does. Returns the exit code.
int runService(const std::function<int(StopSignal&)>& body);

}  // namespace crvmon::exporter
