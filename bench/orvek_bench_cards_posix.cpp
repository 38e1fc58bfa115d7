#include <atomic>
#include <string>
#include <vector>

#include "bench/orvek_bench_cards.h"
#include "lib/orvek/orvek_wire.h"
#include "sim/model/orvek_card_model.h"
#include "sim/model/scenario.h"
#include "sim/orvek/device_object_server.h"
#include "sim/private_simulation.h"

namespace crvmon::bench {

// The cards are served by hand, so that the identity requests (one per open that found a card)
// can be counted; the private simulation provides the object root and the host service.
struct OrvekBenchCards::Served {
    Served() : simulation(sim::parseScenario("")) {
        const sim::Scenario cards = sim::parseScenario("[[orvek]]\n[[orvek]]\n");
        for (const sim::OrvekCardConfig& config : cards.orvekCards) {
            models.push_back(std::make_unique<sim::OrvekCardModel>(config, clock));
            sim::OrvekCardModel* model = models.back().get();
            servers.push_back(std::make_unique<sim::DeviceObjectServer>(
                orvek::wire::deviceObjectBase(config.deviceIndex),
                [this, model](const sim::DeviceIoRequest& r) {
                    if (r.code == orvek::wire::kIoctlDeviceInfo) ++identityRequests;
                    return sim::DeviceIoReply{
                        model->answer(r.code, r.input, r.outputCapacity).output, 0};
                }));
        }
    }

    sim::PrivateSimulation simulation;
    sim::SteadySimClock clock;
    std::vector<std::unique_ptr<sim::OrvekCardModel>> models;
    std::atomic<long> identityRequests{0};
    // Declared last, so the device objects go before what their handlers use.
    std::vector<std::unique_ptr<sim::DeviceObjectServer>> servers;
};

OrvekBenchCards::OrvekBenchCards() : served_(std::make_unique<Served>()) {}

OrvekBenchCards::~OrvekBenchCards() = default;

std::optional<long> OrvekBenchCards::identityRequests() const {
    return served_->identityRequests.load();
}

}  // namespace crvmon::bench
