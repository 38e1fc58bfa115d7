#include "sim/simulator.h"

#include "sim/orvek/simulated_orvek_driver.h"
#include "sim/veltara/veltara_host_service.h"

namespace crvmon::sim {

Simulator::Simulator(const Scenario& scenario, std::shared_ptr<const SimClock> clock)
    : clock_(std::move(clock)) {
    orvek_ = std::make_unique<SimulatedOrvekDriver>(scenario.orvekCards, *clock_);
    veltara_ = std::make_unique<VeltaraHostService>(scenario.veltaraDevices,
                                                    scenario.veltaraService, *clock_);
}

// The host service first: it may still be answering while the device objects go.
Simulator::~Simulator() {
    veltara_.reset();
    orvek_.reset();
}

}  // namespace crvmon::sim
