#include <span>
#include <string>

#include "lib/orvek/orvek_wire.h"
#include "lib/platform/win32.h"
#include "sim/model/orvek_card_model.h"
#include "sim/orvek/device_object_server.h"
#include "sim/orvek/simulated_orvek_driver.h"

namespace crvmon::sim {

struct SimulatedOrvekDriver::Devices {
    std::vector<std::unique_ptr<OrvekCardModel>> cards;
    std::vector<std::unique_ptr<DeviceObjectServer>> objects;
    OrvekReplyFilter filter;

    // The device objects go first, so no request reaches a card being destroyed.
    ~Devices() { objects.clear(); }
};

SimulatedOrvekDriver::SimulatedOrvekDriver(const std::vector<OrvekCardConfig>& cards,
                                           const SimClock& clock, OrvekReplyFilter filter)
    : devices_(std::make_unique<Devices>()) {
    devices_->filter = std::move(filter);
    for (const OrvekCardConfig& config : cards) {
        auto card = std::make_unique<OrvekCardModel>(config, clock);
        OrvekCardModel* model = card.get();
        const OrvekReplyFilter* held = &devices_->filter;  // lives as long as the objects
        const int index = config.deviceIndex;
        devices_->cards.push_back(std::move(card));
        devices_->objects.push_back(std::make_unique<DeviceObjectServer>(
            orvek::wire::deviceObjectBase(config.deviceIndex),
            [model, held, index](const DeviceIoRequest& request) {
                // A request completes with success and the card's byte count ("nothing
                // transferred" is an empty reply), unless the card fails it.
                ModelReply reply =
                    model->answer(request.code, std::span<const std::uint8_t>(request.input),
                                  request.outputCapacity);
                DeviceIoReply answer{std::move(reply.output),
                                     reply.failed ? ERROR_GEN_FAILURE : ERROR_SUCCESS};
                if (*held) (*held)(index, request.code, answer.output, answer.error);
                return answer;
            }));
    }
}

SimulatedOrvekDriver::~SimulatedOrvekDriver() = default;

}  // namespace crvmon::sim
