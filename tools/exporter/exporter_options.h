// crvmon-exporter's command line.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace crvmon::exporter {

struct ExporterOptions {
    std::string listen = "127.0.0.1:9877";
    double reinitSeconds = 0;   // 0: initialise once
    unsigned threads = 0;       // 0: chosen from the machine's cores
    std::string webConfigFile;  // TLS and basic auth; empty: plain HTTP, open
    bool installService = false;
    bool uninstallService = false;
    bool runAsService = false;      // started by the service manager
    bool configureService = false;  // the installer's steps: recovery of the installed service,
    bool stopService = false;       // and its stop, waited for to the end of its process
};

void declareOptions(CLI::App& app, ExporterOptions& options);

// "ADDR:PORT" (IPv6 addresses in brackets); false when malformed.
bool splitListenAddress(const std::string& text, std::string& host, int& port);

}  // namespace crvmon::exporter
