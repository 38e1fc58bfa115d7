// crvmon-sim [SCENARIO.toml]: serves a scenario's simulated devices until asked to stop.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "lib/common/build_info.h"
#include "sim/model/scenario.h"
#include "sim/simulator.h"
#include "sim/stop_request.h"

// Outside the handlers only CLI11's set-up can throw: on a misspelt option name, a programming
// error that any run shows, or out of memory.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
#if defined(_WIN32)
    CLI::App app{
        "Serves simulated Orvek cards (through a kernel-mode driver it loads) and "
        "Veltara devices (a host service on named pipes) until Ctrl+C."};
#else
    CLI::App app{
        "Serves simulated Orvek cards (and Veltara devices) under the object root "
        "($CRVMON_OBJECT_ROOT, else /tmp/crvmon-<uid>) until SIGINT or SIGTERM."};
#endif
    // Options are spelled --x everywhere, so that "/path/to/file" is a scenario under Wine.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", CRVMON_VERSION_LINE("crvmon-sim"),
                         "Print the version and the source revision it was built from, and exit");
    std::string scenarioFile;
    app.add_option("scenario", scenarioFile, "Scenario file (TOML); the built-in one if omitted")
        ->check(CLI::ExistingFile);
    CLI11_PARSE(app, argc, argv);

    crvmon::sim::prepareForStopRequest();

    try {
        const crvmon::sim::Scenario scenario =
            scenarioFile.empty() ? crvmon::sim::parseScenario(crvmon::sim::builtInScenarioText())
                                 : crvmon::sim::loadScenario(scenarioFile);
        crvmon::sim::Simulator simulator(scenario, std::make_shared<crvmon::sim::SteadySimClock>());
        std::printf("ready\n");
        std::fflush(stdout);
        crvmon::sim::waitForStopRequest();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvmon-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
