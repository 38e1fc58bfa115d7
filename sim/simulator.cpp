#include "sim/simulator.h"

#include "sim/orvek/simulated_orvek_driver.h"
#include "sim/veltara/veltara_host_service.h"

namespace crvmon::sim {

Simulator::Simulator(const Scenario& scenario, std::shared_ptr<const SimClock> clock,
                     ReplyFilters filters)
    : clock_(std::move(clock)) {
    orvek_ = std::make_unique<SimulatedOrvekDriver>(scenario.orvekCards, *clock_,
                                                    std::move(filters.orvek));
    veltara_ = std::make_unique<VeltaraHostService>(
        scenario.veltaraDevices, scenario.veltaraService, *clock_, std::move(filters.veltara));
}

// The host service first: it may still be answering while the device objects go.
Simulator::~Simulator() {
    veltara_.reset();
    orvek_.reset();
}

}  // namespace crvmon::sim
