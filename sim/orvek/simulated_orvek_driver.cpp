#include "orvek/simulated_orvek_driver.h"

#include <span>

namespace crvmon::sim {

std::string SimulatedOrvekDriver::deviceObjectName(int deviceIndex) {
    std::string name = "corvanta_pcie";
    if (deviceIndex != 0) name += std::to_string(deviceIndex);
    return name;
}

SimulatedOrvekDriver::SimulatedOrvekDriver(const std::vector<OrvekCardConfig>& cards,
                                           const SimClock& clock) {
    for (const OrvekCardConfig& config : cards) {
        auto card = std::make_unique<OrvekCardModel>(config, clock);
        OrvekCardModel* model = card.get();
        cards_.push_back(std::move(card));
        objects_.push_back(std::make_unique<platform::DeviceObjectServer>(
            deviceObjectName(config.deviceIndex), [model](const platform::DeviceIoRequest& request) {
                // Every request completes with success and the card's byte count; "nothing
                // transferred" is an empty reply, never a failed request.
                ModelReply reply = model->answer(
                    request.code, std::span<const std::uint8_t>(request.input),
                    request.outputCapacity);
                return platform::DeviceIoReply{std::move(reply.output), 0};
            }));
    }
}

// The device objects go first, so no request reaches a card being destroyed.
SimulatedOrvekDriver::~SimulatedOrvekDriver() { objects_.clear(); }

}  // namespace crvmon::sim
