#include "bench/orvek_bench_cards.h"
#include "sim/model/scenario.h"
#include "sim/private_simulation.h"

namespace crvmon::bench {

// The simulation's driver serves the cards from the bytes uploaded to it; it keeps no count of
// the requests it answers.
struct OrvekBenchCards::Served {
    Served() : simulation(sim::parseScenario("[[orvek]]\n[[orvek]]\n")) {}
    sim::PrivateSimulation simulation;
};

OrvekBenchCards::OrvekBenchCards() : served_(std::make_unique<Served>()) {}

OrvekBenchCards::~OrvekBenchCards() = default;

std::optional<long> OrvekBenchCards::identityRequests() const {
    return std::nullopt;
}

}  // namespace crvmon::bench
