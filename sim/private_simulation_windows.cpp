#include "sim/private_simulation.h"

#include "sim/simulator.h"

namespace crvmon::sim {

// Windows has one namespace for device objects and pipes: the simulation serves in it, and only
// one may run on a machine at a time.
PrivateSimulation::PrivateSimulation(const Scenario& scenario,
                                     std::shared_ptr<const SimClock> clock, ReplyFilters filters)
    : simulator_(std::make_unique<Simulator>(scenario, std::move(clock), std::move(filters))) {}

PrivateSimulation::~PrivateSimulation() {
    restore();
}

void PrivateSimulation::restore() noexcept {
    simulator_.reset();
}

}  // namespace crvmon::sim
