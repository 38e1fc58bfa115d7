#include "tests/support/simulation_for_c.h"

#include <cstdio>
#include <exception>

#include "sim/model/scenario.h"
#include "sim/private_simulation.h"

extern "C" void* crvmonTestStartSimulation(const char* scenario) {
    try {
        return new crvmon::sim::PrivateSimulation(crvmon::sim::parseScenario(scenario));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot simulate: %s\n", e.what());
        return nullptr;
    }
}

extern "C" void crvmonTestStopSimulation(void* simulation) {
    delete static_cast<crvmon::sim::PrivateSimulation*>(simulation);
}
