// crvmon-smi: lists the NPUs the library finds.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "crvmon.h"
#include "tools/smi/device_listing.h"
#include "tools/smi/simulation_option.h"

int main(int argc, char** argv) {
    CLI::App app{"Lists the Orvek and Veltara NPUs of this machine."};
    crvmon::smi::SimulationOption simulation(app);
    CLI11_PARSE(app, argc, argv);

    std::unique_ptr<crvmon::smi::SimulationOption::Running> simulated;
    try {
        simulated = simulation.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvmon-smi: cannot simulate: %s\n", e.what());
        return 2;
    }

    const crvmonStatusCode_t status = corvanta::crvmonInit();
    if (status != CRVMON_STATUS_OK) {
        std::fprintf(stderr, "crvmon-smi: initialisation failed (status %d: %s)\n",
                     static_cast<int>(status), crvmon::smi::statusWords(status));
        return 1;
    }
    crvmon::smi::printDeviceList(stdout);
    corvanta::crvmonShutdown();
    return 0;
}
