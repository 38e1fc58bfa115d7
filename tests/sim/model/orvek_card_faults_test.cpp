// The faults a scenario can inject, each seen in what the driver transfers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/orvek_card_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kIdentity = 0x00222000;
constexpr std::uint32_t kRegister = 0x00222012;
constexpr std::uint32_t kUsage = 0x00222042;

Bytes registerRequest(std::uint32_t operation, std::uint32_t address, std::uint32_t value) {
    Bytes bytes;
    for (std::uint32_t word : {operation, address, value}) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    return bytes;
}

class CardFaults : public ::testing::Test {
  protected:
    ManualSimClock clock;
};

TEST_F(CardFaults, LegacyTableOfTheWrongLengthIsCutFromTheWholeOne) {
    OrvekCardSpec card;
    card.identityForm = IdentityForm::Legacy;
    OrvekCardModel whole(card, clock);
    card.faults.legacyReplyLength = 1000;
    OrvekCardModel cut(card, clock);

    const Bytes full = whole.answer(kIdentity, Bytes(1040), 1040).output;
    const Bytes part = cut.answer(kIdentity, Bytes(1040), 1040).output;
    ASSERT_EQ(full.size(), 1040u);
    ASSERT_EQ(part.size(), 1000u);
    EXPECT_EQ(part, Bytes(full.begin(), full.begin() + 1000));
    EXPECT_TRUE(cut.answer(kIdentity, Bytes(128), 128).output.empty());
}

TEST_F(CardFaults, FailingRegistersTransferNothingAndDropWrites) {
    OrvekCardSpec card;
    card.firmware = {1, 3, 0, 0};
    card.faults.failingRegisters = {0x0FC12058, 0x0FC12050};
    OrvekCardModel model(card, clock);

    EXPECT_TRUE(model.answer(kRegister, registerRequest(2, 0x0FC12058, 0), 4).output.empty());
    EXPECT_TRUE(model.answer(kRegister, registerRequest(3, 0x0FC12050, 2), 0).output.empty());
    EXPECT_EQ(model.selectedExtraPmic(), 0u);
    EXPECT_EQ(model.registerValue(0x0FC12050), 0x80000000u);
    // Registers not named still answer.
    EXPECT_EQ(model.answer(kRegister, registerRequest(2, 0x0FC1205C, 0), 4).output.size(), 4u);
}

TEST_F(CardFaults, UsageReplyLengths) {
    struct Case {
        std::uint32_t length;
        const char* meaning;
    };
    OrvekCardSpec card;
    card.load.fill(0.4);
    const Bytes whole = OrvekCardModel(card, clock).answer(kUsage, {}, 10352).output;
    ASSERT_EQ(whole.size(), 10352u);
    for (const Case& k : {Case{88, "no activity data"}, Case{500, "short"}, Case{0, "none"}}) {
        card.faults.usageReplyLength = k.length;
        OrvekCardModel model(card, clock);
        const Bytes reply = model.answer(kUsage, {}, 10352).output;
        EXPECT_EQ(reply, Bytes(whole.begin(), whole.begin() + k.length)) << k.meaning;
    }
}

TEST_F(CardFaults, BuffersTooSmallAndUnknownCodesGetNothing) {
    OrvekCardModel model(OrvekCardSpec{}, clock);
    EXPECT_TRUE(model.answer(kUsage, {}, 10351).output.empty());
    EXPECT_TRUE(model.answer(0x00222004, Bytes(128), 128).output.empty());
    EXPECT_TRUE(model.answer(0, {}, 0xFFFFFFFF).output.empty());
}

TEST_F(CardFaults, SpecsOutsideTheirRangesAreRefused) {
    auto refused = [&](auto change) {
        OrvekCardSpec card;
        change(card);
        EXPECT_THROW((void)OrvekCardModel(card, clock), std::invalid_argument);
    };
    refused([](OrvekCardSpec& c) { c.npuClockMHz = 4295; });  // would overflow the Hz register
    refused([](OrvekCardSpec& c) { c.memoryUsedBytes = (16ull << 30) + 1; });
    refused([](OrvekCardSpec& c) { c.location = {LocationKind::SlotChain, {}, {}}; });
    refused([](OrvekCardSpec& c) { c.faults.failingRegisters = {0x0FC12000}; });
}

}  // namespace
}  // namespace crvmon::sim::testing
