#include "simulator.h"

#include "veltara/veltara_host_service.h"

// The Orvek driver is served through the stand-in's device objects; its Windows form (a
// kernel-mode driver) is not part of this build yet.
#if !defined(_WIN32)
#include "orvek/simulated_orvek_driver.h"
#endif

namespace crvmon::sim {

#if defined(_WIN32)
class SimulatedOrvekDriver {};
#endif

Simulator::Simulator(const Scenario& scenario, std::shared_ptr<const SimClock> clock)
    : clock_(std::move(clock)) {
#if !defined(_WIN32)
    orvek_ = std::make_unique<SimulatedOrvekDriver>(scenario.orvekCards, *clock_);
#endif
    veltara_ = std::make_unique<VeltaraHostService>(scenario.veltaraDevices,
                                                    scenario.veltaraService, *clock_);
}

// The host service first: it may still be answering while the device objects go.
Simulator::~Simulator() {
    veltara_.reset();
    orvek_.reset();
}

}  // namespace crvmon::sim
