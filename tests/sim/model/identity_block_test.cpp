// The identity request in both forms, byte for byte against hand-written blocks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/orvek_card_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kIdentity = 0x00222000;

OrvekCardSpec describedCard() {
    OrvekCardSpec card;
    card.vendorId = 0x1D9C;
    card.deviceId = 0x0100;
    card.firmware = {1, 2, 3, 2};  // 1.2.3, revision 2
    card.memoryGiB = 16;
    card.boardKind = 1;
    card.grade = 1;
    card.chipGeneration = 1;
    card.pcieGen = 4;
    card.pcieLanes = 8;
    card.pcieRev = 1;
    card.pcieClassCode = 0x120000;
    card.driverVersion = {1, 8, 2, 7};
    card.location.kind = LocationKind::PciAddress;
    card.location.address = {0x0000, 0x03, 0x00, 0x0};
    return card;
}

Bytes identity(const OrvekCardSpec& card, std::uint32_t capacity) {
    ManualSimClock clock;
    OrvekCardModel model(card, clock);
    return model.answer(kIdentity, Bytes(capacity, 0), capacity).output;
}

TEST(CurrentIdentityBlock, CarriesIdsFirmwareLinkDriverAndPciAddress) {
    // clang-format off
    const Bytes expected = {
        0x9C, 0x1D, 0x00, 0x01,  // vendor 0x1D9C, device 0x0100
        0x02, 0x04,              // firmware 1.2: major 1 in bits 10-15, minor 2 in bits 0-9
        0x4B, 0x12,  // 16 GiB (code 3) | kind 1 << 3 | grade 1 << 6 | revision 2 << 8 | gen 1 << 12
        0x00, 0x00, 0x03, 0x80,  // patch 3 present: 0x80030000
        0x00, 0x00, 0x00, 0x00,  // reserved
        0x04, 0x08, 0x01, 0x00, 0x00, 0x00, 0x12, 0x00,  // gen 4, 8 lanes, rev 1; class 0x120000
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved
        0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x07, 0x00,  // driver 1.8.2.7
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x00, 0x80,                                      // kind 2: PCI address
        0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0000:03:00.0
        0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // clang-format on
    ASSERT_EQ(expected.size(), 128u);
    EXPECT_EQ(identity(describedCard(), 128), expected);
}

TEST(CurrentIdentityBlock, SlotChainNoPatchAndNoLocation) {
    OrvekCardSpec card = describedCard();
    card.firmware = {3, 1000, std::nullopt, 15};  // minor 1000 = 0x3E8
    card.memoryGiB = 256;                         // code 7
    card.location = {LocationKind::SlotChain, {}, {1, 4, 0x1234}};
    Bytes block = identity(card, 128);
    ASSERT_EQ(block.size(), 128u);
    EXPECT_THAT(Bytes(block.begin() + 4, block.begin() + 12),
                ::testing::ElementsAre(0xE8, 0x0F,    // 3 << 10 | 1000 = 0x0FE8
                                       0x4F, 0x1F,    // 7 | 1 << 3 | 1 << 6 | 15 << 8 | 1 << 12
                                       0, 0, 0, 0));  // no patch: the firmware word is 0
    EXPECT_THAT(Bytes(block.begin() + 64, block.begin() + 80),
                ::testing::ElementsAre(0x02, 0x40,  // kind 1, three items
                                       0x01, 0x00, 0x04, 0x00, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0));

    card.location = {LocationKind::None, {}, {}};
    block = identity(card, 128);
    EXPECT_EQ(Bytes(block.begin() + 64, block.begin() + 80), Bytes(16, 0));
}

TEST(CurrentIdentityBlock, NeedsA128ByteBuffer) {
    EXPECT_TRUE(identity(describedCard(), 127).empty());
    // A bigger buffer still receives the 128-byte form only.
    EXPECT_EQ(identity(describedCard(), 1040).size(), 128u);
}

Bytes legacyTable(std::int32_t index) {
    Bytes table(1040, 0);
    const std::uint8_t head[] = {0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x07, 0x00};
    std::copy(std::begin(head), std::end(head), table.begin());
    for (int i = 0; i < 4; ++i) {
        table[8 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(index) >> (8 * i));
    }
    return table;
}

TEST(LegacyIdentityTable, AnswersNothingForTheSmallRequestThenTheTable) {
    OrvekCardSpec card = describedCard();
    card.identityForm = IdentityForm::Legacy;
    card.legacyIndex = 5;
    EXPECT_TRUE(identity(card, 128).empty());

    Bytes expected = legacyTable(5);
    const std::uint8_t entry[] = {0x9C, 0x1D, 0x00, 0x01,   // vendor | device << 16
                                  0x02, 0x04, 0x4B, 0x12,   // subsystem vendor | subsystem << 16
                                  0x00, 0x00, 0x00, 0x00,   // not read
                                  0x04, 0x08, 0x01, 0x00};  // gen, lanes, revision
    std::copy(std::begin(entry), std::end(entry), expected.begin() + 16 + 16 * 5);
    EXPECT_EQ(identity(card, 1040), expected);
    EXPECT_TRUE(identity(card, 1039).empty());
}

TEST(LegacyIdentityTable, AnIndexOutsideTheTableLeavesEveryEntryEmpty) {
    OrvekCardSpec card = describedCard();
    card.identityForm = IdentityForm::Legacy;
    for (std::int32_t index : {64, 70, -1}) {
        card.legacyIndex = index;
        EXPECT_EQ(identity(card, 1040), legacyTable(index)) << index;
    }
}

}  // namespace
}  // namespace crvmon::sim::testing
