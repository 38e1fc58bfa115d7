// The Orvek kernel driver as the simulator plays it: one device object per card of the
// scenario, answering the driver's control requests from the card's model.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/orvek_card_model.h"
#include "model/sim_clock.h"
#include "platform/posix/device_object_server.h"

namespace crvmon::sim {

class SimulatedOrvekDriver {
public:
    // Publishes the cards' device objects under the object root; throws when one cannot be.
    SimulatedOrvekDriver(const std::vector<OrvekCardConfig>& cards, const SimClock& clock);
    ~SimulatedOrvekDriver();
    SimulatedOrvekDriver(const SimulatedOrvekDriver&) = delete;
    SimulatedOrvekDriver& operator=(const SimulatedOrvekDriver&) = delete;

    // The name a card's device object is published under ("corvanta_pcie", "corvanta_pcie2").
    static std::string deviceObjectName(int deviceIndex);

private:
    std::vector<std::unique_ptr<OrvekCardModel>> cards_;
    std::vector<std::unique_ptr<platform::DeviceObjectServer>> objects_;
};

}  // namespace crvmon::sim
