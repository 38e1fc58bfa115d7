#include "simulator.h"

#include "orvek/simulated_orvek_driver.h"

namespace crvmon::sim {

Simulator::Simulator(const Scenario& scenario, std::shared_ptr<const SimClock> clock)
    : clock_(std::move(clock)),
      orvek_(std::make_unique<SimulatedOrvekDriver>(scenario.orvekCards, *clock_)) {}

Simulator::~Simulator() = default;

}  // namespace crvmon::sim
