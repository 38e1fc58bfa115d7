#include <atomic>
#include <string>
#include <vector>

#include "model/orvek_card_model.h"
#include "model/scenario.h"
#include "orvek/orvek_wire.h"
#include "orvek_bench_cards.h"
#include "platform/posix/device_object_server.h"
#include "private_simulation.h"

namespace crvmon::bench {

// The cards are served by hand, so that the identity requests (one per open that found a card)
// can be counted; the private simulation provides the object root and the host service.
struct OrvekBenchCards::Served {
    Served() : simulation(sim::parseScenario("")) {
        const sim::Scenario cards = sim::parseScenario("[[orvek]]\n[[orvek]]\n");
        for (const sim::OrvekCardConfig& config : cards.orvekCards) {
            models.push_back(std::make_unique<sim::OrvekCardModel>(config, clock));
            sim::OrvekCardModel* model = models.back().get();
            std::string name = "corvanta_pcie";
            if (config.deviceIndex != 0) name += std::to_string(config.deviceIndex);
            servers.push_back(std::make_unique<platform::DeviceObjectServer>(
                name, [this, model](const platform::DeviceIoRequest& r) {
                    if (r.code == orvek::wire::kIoctlDeviceInfo) ++identityRequests;
                    return platform::DeviceIoReply{
                        model->answer(r.code, r.input, r.outputCapacity).output, 0};
                }));
        }
    }

    sim::PrivateSimulation simulation;
    sim::SteadySimClock clock;
    std::vector<std::unique_ptr<sim::OrvekCardModel>> models;
    std::atomic<long> identityRequests{0};
    // Declared last, so the device objects go before what their handlers use.
    std::vector<std::unique_ptr<platform::DeviceObjectServer>> servers;
};

OrvekBenchCards::OrvekBenchCards() : served_(std::make_unique<Served>()) {}

OrvekBenchCards::~OrvekBenchCards() = default;

std::optional<long> OrvekBenchCards::identityRequests() const {
    return served_->identityRequests.load();
}

}  // namespace crvmon::bench
