// crvmon-sim [SCENARIO.toml]: serves a scenario's simulated devices until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "model/scenario.h"
#include "simulator.h"

int main(int argc, char** argv) {
    CLI::App app{"Serves simulated Orvek cards (and Veltara devices) under the object root "
                 "($CRVMON_OBJECT_ROOT, else /tmp/crvmon-<uid>) until interrupted."};
    std::string scenarioFile;
    app.add_option("scenario", scenarioFile, "Scenario file (TOML); the built-in one if omitted")
        ->check(CLI::ExistingFile);
    CLI11_PARSE(app, argc, argv);

    // Block the stop signals before any serving thread starts, so they reach sigwait only.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    try {
        const crvmon::sim::Scenario scenario =
            scenarioFile.empty() ? crvmon::sim::parseScenario(crvmon::sim::builtInScenarioText())
                                 : crvmon::sim::loadScenario(scenarioFile);
        crvmon::sim::Simulator simulator(scenario,
                                         std::make_shared<crvmon::sim::SteadySimClock>());
        std::printf("ready\n");
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvmon-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
