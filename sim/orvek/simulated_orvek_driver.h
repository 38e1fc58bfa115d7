// The Orvek kernel driver as the simulator plays it: one device object per card of the
// scenario, answering the driver's control requests from the card's model. Over the stand-in's
// device objects on Linux; on Windows a real kernel-mode driver, loaded for the simulator's
// lifetime and fed the cards' bytes.
#pragma once

#include <memory>
#include <vector>

#include "sim/model/orvek_card_config.h"
#include "sim/model/sim_clock.h"
#include "sim/reply_filters.h"

namespace crvmon::sim {

class SimulatedOrvekDriver {
  public:
    // Publishes the cards' device objects; throws when one cannot be. A filter sees every
    // reply before the library does; the kernel-mode driver of the Windows build takes none
    // (std::invalid_argument).
    SimulatedOrvekDriver(const std::vector<OrvekCardConfig>& cards, const SimClock& clock,
                         OrvekReplyFilter filter = {});
    ~SimulatedOrvekDriver();
    SimulatedOrvekDriver(const SimulatedOrvekDriver&) = delete;
    SimulatedOrvekDriver& operator=(const SimulatedOrvekDriver&) = delete;

  private:
    struct Devices;
    std::unique_ptr<Devices> devices_;
};

}  // namespace crvmon::sim
