#include "tools/exporter/exporter_options.h"

#include <charconv>

#include "tools/common/option_checks.h"

namespace crvmon::exporter {

void declareOptions(CLI::App& app, ExporterOptions& o) {
    app.add_option("--listen", o.listen, "Address and port to serve on")
        ->type_name("ADDR:PORT")
        ->capture_default_str();
    app.add_option("--reinit-interval", o.reinitSeconds,
                   "Initialise the library again between scrapes after SECONDS, to find devices "
                   "that appeared; 0 initialises once")
        ->type_name("SECONDS")
        ->check(tools::numberFrom(0.0, 86400.0 * 365, "seconds"))
        ->capture_default_str();
    app.add_option("--threads", o.threads,
                   "Devices read at once during a scrape (default, or 0: the machine's cores, 2 "
                   "to 8)")
        ->type_name("N")
        ->check(tools::wholeNumberFrom(0, 256, "threads"));
    app.add_option("--web.config.file", o.webConfigFile,
                   "TLS and basic auth from a web configuration file (YAML: tls_server_config, "
                   "basic_auth_users), read again when it changes or on SIGHUP")
        ->type_name("FILE");
#ifdef _WIN32
    app.add_flag("--install-service", o.installService,
                 "Install crvmon-exporter as a Windows service started with the other options "
                 "given here, and exit");
    app.add_flag("--uninstall-service", o.uninstallService, "Remove the Windows service, and exit");
    app.add_flag("--service", o.runAsService, "Run under the service manager (set by the service)")
        ->group("");
    // The MSI runs these, as steps Windows Installer has no table for.
    app.add_flag("--configure-service", o.configureService,
                 "Set the installed service's recovery, and exit")
        ->group("");
    app.add_flag("--stop-service", o.stopService,
                 "Stop the installed service and wait for its process to end, and exit")
        ->group("");
#endif
}

bool splitListenAddress(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    }
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, port);
    return first != last && end == last && error == std::errc{} && port > 0 && port < 65536;
}

}  // namespace crvmon::exporter
