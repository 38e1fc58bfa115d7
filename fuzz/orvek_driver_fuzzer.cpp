// The Orvek path from the driver's bytes to the caller, through the stand-in's device objects:
// discovery, the identity block and the older identity table, the register words, the usage
// reply with its ten rings, and the extra-PMIC selector written back. The simulated driver
// serves the built-in scenario's cards (one of them answering only the older table), and the
// input alters each of its replies in turn.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "crvmon.h"
#include "fuzz/support/every_value.h"
#include "fuzz/support/fuzz_machine.h"
#include "fuzz/support/reply_edits.h"
#include "sim/model/scenario.h"
#include "sim/orvek/simulated_orvek_driver.h"

namespace {

crvmon::fuzz::ReplyEdits edits;

std::vector<crvmon::sim::OrvekCardConfig> cards() {
    std::vector<crvmon::sim::OrvekCardConfig> cards = crvmon::sim::builtInScenario().orvekCards;
    crvmon::sim::OrvekCardConfig legacy = cards.front();
    legacy.deviceIndex = static_cast<int>(cards.size());
    legacy.identityForm = crvmon::sim::IdentityForm::Legacy;
    legacy.legacyIndex = 2;
    cards.push_back(legacy);
    return cards;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    crvmon::fuzz::prepareMachine();
    // The clock stands still: the same input meets the same replies.
    static crvmon::sim::ManualSimClock clock;
    static crvmon::sim::SimulatedOrvekDriver driver(
        cards(), clock,
        [](int, std::uint32_t, std::vector<std::uint8_t>& output, std::uint32_t& error) {
            if (edits.edit(output) == crvmon::fuzz::ReplyEdits::Outcome::Fail) {
                error = 31;  // ERROR_GEN_FAILURE: what a driver's failed request reports
            }
        });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the card whose values are read (each read is eleven requests, so
    // reading all three every time would slow the fuzzer threefold); the rest are the edits.
    if (size == 0) return 0;
    const int card = data[0] % 3;
    edits.reset(data + 1, size - 1);
    if (crvmonInit() != CRVMON_STATUS_OK) return 0;
    crvmon::fuzz::readDeviceValues(CRVMON_TARGET_ORVEK_PCIE, card);
    // Selecting another extra power monitor reads, changes and writes back a register word.
    crvmonSetExtraPmicID(CRVMON_TARGET_ORVEK_PCIE, card, CRVMON_EXTRA_PMIC_3);
    double power = 0;
    crvmonGetExtraPmicPower(CRVMON_TARGET_ORVEK_PCIE, card, &power);
    crvmonShutdown();
    return 0;
}
