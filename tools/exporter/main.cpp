// crvmon-exporter: the devices of this machine as Prometheus metrics, a JSON API and a live
// page, served over HTTP. Built on the flat functions of crvmon.h alone.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lib/common/build_info.h"
#include "tools/common/interrupt.h"
#include "tools/common/option_checks.h"
#include "tools/common/simulation_option.h"
#include "tools/exporter/device_collector.h"
#include "tools/exporter/exporter_log.h"
#include "tools/exporter/exporter_options.h"
#include "tools/exporter/http_routes.h"
#include "tools/exporter/listen_socket.h"
#include "tools/exporter/reload_signal.h"
#include "tools/exporter/served_config.h"
#include "tools/exporter/stop_signal.h"
#ifdef _WIN32
#include "tools/exporter/windows_service.h"
#endif

namespace crvmon::exporter {

namespace {

// Exit codes, as docs/exporter.md lists them.
constexpr int kBadArgument = 2;
constexpr int kCannotServe = 3;  // the address cannot be listened on: a port taken, above all

unsigned defaultThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
}

// Writes what an initialisation found when it differs from the last one: a library that keeps
// finding nothing is said once, not at every retry.
DeviceCollector::Settings::Initialised initialisationReport(const ExporterLog& log) {
    return [&log, last = std::optional<std::pair<crvmonStatusCode_t, std::size_t>>()](
               crvmonStatusCode_t status, std::size_t devices) mutable {
        if (last == std::make_pair(status, devices)) return;
        last = std::make_pair(status, devices);
        if (status == CRVMON_STATUS_OK) {
            log.write(Severity::kInfo,
                      "the library found " + std::to_string(devices) + " device(s)");
        } else if (status == CRVMON_STATUS_NOT_INITIALIZED) {
            // What crvmonInit answers when it opened no device.
            log.write(Severity::kWarning, std::string("no device found (") +
                                              crvmonStatusString(status) +
                                              "); looking again at a scrape, every 10 s at most");
        } else {
            log.write(Severity::kError, std::string("the library's initialisation failed: ") +
                                            crvmonStatusString(status));
        }
    };
}

// Binds the server of a configuration read again to the address the last one served: the old
// socket is closed, but the system may take a moment to free the address.
bool bindAgain(httplib::Server& server, const std::string& host, int port, std::string& why) {
    for (int attempt = 0;; ++attempt) {
        if (bindExclusively(server, host, port, why)) return true;
        if (attempt == 50) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int serve(const ExporterOptions& options, const tools::SimulationOption& simulation,
          StopSignal& stop, const ExporterLog& log) {
    std::string host;
    int port = 0;
    if (!splitListenAddress(options.listen, host, port)) {
        log.write(Severity::kError, "--listen '" + options.listen + "': expected ADDR:PORT");
        return kBadArgument;
    }
    // A bad web configuration stops the exporter before it serves anything.
    std::unique_ptr<ServedConfig> web;
    std::unique_ptr<httplib::Server> server;
    try {
        web = std::make_unique<ServedConfig>(options.webConfigFile);
        server = web->makeServer();
    } catch (const WebConfigError& e) {
        log.write(Severity::kError, e.what());
        return kBadArgument;
    }
    // The port first: a second exporter on it fails at once, before it loads a simulation or
    // initialises the library. Requests that come meanwhile wait in the listen queue.
    std::string why;
    if (!bindExclusively(*server, host, port, why)) {
        log.write(Severity::kError, "cannot listen on " + options.listen + ": " + why);
        return kCannotServe;
    }
    std::unique_ptr<tools::SimulationOption::Running> simulated;
    try {
        simulated = simulation.start();
    } catch (const std::exception& e) {
        log.write(Severity::kError, std::string("cannot simulate: ") + e.what());
        return kBadArgument;
    }

    DeviceCollector::Settings settings;
    settings.threads = options.threads > 0 ? options.threads : defaultThreads();
    settings.reinitInterval =
        std::chrono::milliseconds(static_cast<long long>(options.reinitSeconds * 1000));
    settings.initialised = initialisationReport(log);
    const auto serving = [&] {
        return std::string("serving ") + web->scheme() + "://" + options.listen +
               "/ (metrics at /metrics; " + web->summary() + ")";
    };
    log.write(Severity::kInfo, serving() + ", " + CRVMON_VERSION_LINE("crvmon-exporter"));
    DeviceCollector collector(settings);
    DeviceHistory history;
    const HistorySampler sampler(collector, history);
    catchReloadRequests();

    for (;;) {
        addRoutes(*server, collector, history);
        std::unique_ptr<httplib::Server> next;  // the server of a configuration read again
        std::atomic<bool> listening{true};
        // `next` is the watcher's until it is joined.
        std::thread watcher([&] {
            auto checked = std::chrono::steady_clock::now();
            // The server may also end by itself, on a socket error.
            while (listening.load() && !stop.waitFor(std::chrono::milliseconds(100))) {
                if (tools::interrupted()) stop.requestStop();
                const bool asked = takeReloadRequest();
                const auto now = std::chrono::steady_clock::now();
                if (asked || now - checked >= std::chrono::seconds(1)) {
                    checked = now;
                    if ((next = web->reloaded(asked, log))) break;
                }
            }
            // A stop asked for before the server runs is lost: ask until the serving has ended.
            while (listening.load()) {
                server->stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        server->listen_after_bind();
        listening.store(false);
        watcher.join();
        if (!next || stop.stopRequested()) {
            stop.requestStop();
            break;
        }
        server = std::move(next);
        if (!bindAgain(*server, host, port, why)) {
            log.write(Severity::kError, "cannot listen on " + options.listen + " again: " + why);
            return kCannotServe;
        }
        log.write(Severity::kInfo, "read --web.config.file again: " + serving());
    }
    log.write(Severity::kInfo, "stopped");
    return 0;
}

}  // namespace

}  // namespace crvmon::exporter

// Outside the handlers only CLI11's set-up can throw: on a misspelt option name, a programming
// error that any run shows, or out of memory.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    using namespace crvmon;
    CLI::App app{
        "crvmon-exporter: the Orvek and Veltara NPUs of this machine as Prometheus "
        "metrics (/metrics), JSON (/api/v1/devices) and a live page (/).",
        "crvmon-exporter"};
    app.set_version_flag("--version", CRVMON_VERSION_LINE("crvmon-exporter"),
                         "Print the version and the source revision it was built from, and exit");
    exporter::ExporterOptions options;
    tools::SimulationOption simulation(app);
    exporter::declareOptions(app, options);
    if (const auto code = tools::parseOptions(app, argc, argv, exporter::kBadArgument))
        return *code;

    try {
        exporter::ExporterLog log;
#ifdef _WIN32
        if (options.installService) {
            std::vector<std::string> arguments;
            for (int i = 1; i < argc; ++i) {
                if (std::string(argv[i]) != "--install-service") arguments.emplace_back(argv[i]);
            }
            return exporter::installService(arguments);
        }
        if (options.uninstallService) return exporter::uninstallService();
        if (options.configureService) return exporter::configureService();
        if (options.stopService) return exporter::stopService();
        if (options.runAsService) {
            return exporter::runService(log, [&](exporter::StopSignal& stop) {
                return exporter::serve(options, simulation, stop, log);
            });
        }
#endif
        tools::catchInterrupts();
        exporter::StopSignal stop;
        return exporter::serve(options, simulation, stop, log);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvmon-exporter: %s\n", e.what());
        return 1;
    }
}
