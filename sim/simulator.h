// Everything a scenario simulates, served until destroyed: the Orvek driver's device objects
// and the Veltara host service.
#pragma once

#include <memory>

#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/reply_filters.h"

namespace crvmon::sim {

class SimulatedOrvekDriver;
class VeltaraHostService;

class Simulator {
  public:
    // Serves under the stand-in's object root (on Windows: in the machine's namespace); throws
    // when it cannot. Filters see the replies before the library does.
    Simulator(const Scenario& scenario, std::shared_ptr<const SimClock> clock,
              ReplyFilters filters = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

  private:
    std::shared_ptr<const SimClock> clock_;
    std::unique_ptr<SimulatedOrvekDriver> orvek_;
    std::unique_ptr<VeltaraHostService> veltara_;
};

}  // namespace crvmon::sim
