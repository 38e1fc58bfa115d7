// One simulated Orvek card: the identity request in both forms byte for byte; the extra-PMIC
// selector in both firmware ranges; the requests the card's registers refuse; and the activity
// rings read by the library's rule against the scenario's load at any moment.
// Malformed requests and small buffers are the driver's (card_upload_test.cpp); what the library
// makes of the other register words and of the faults is tested end to end with it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "lib/orvek/busy_fraction.h"
#include "sim/model/activity_ring.h"
#include "sim/model/orvek_card_model.h"
#include "sim/model/power_encoding.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kIdentity = 0x00222000;
constexpr std::uint32_t kRegister = 0x00222012;
constexpr std::uint32_t kUsage = 0x00222042;

std::uint64_t le(const Bytes& b, std::size_t at, int width = 8) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

Bytes registerRequest(std::uint32_t operation, std::uint32_t address, std::uint32_t value) {
    Bytes bytes;
    for (std::uint32_t word : {operation, address, value}) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    return bytes;
}

// The other fields at their defaults: ids 1D9C/0100, 16 GiB, PCIe gen 4 x8, class 0x120000.
OrvekCardConfig describedCard() {
    OrvekCardConfig card;
    card.firmware = {1, 2, 3, 2};  // 1.2.3, revision 2
    card.boardKind = card.grade = card.chipGeneration = 1;
    card.pcieRev = 1;
    card.driverVersion = {1, 8, 2, 7};
    card.location.address = {0x0000, 0x03, 0x00, 0x0};
    return card;
}

class OrvekCard : public ::testing::Test {
  protected:
    Bytes answer(const OrvekCardConfig& card, std::uint32_t code, std::uint32_t capacity,
                 const Bytes& input = {}) {
        return OrvekCardModel(card, clock).answer(code, input, capacity).output;
    }
    // A read, or a failure of the test when it transfers anything but four bytes.
    std::uint32_t read(OrvekCardModel& model, std::uint32_t address) {
        const Bytes out = model.answer(kRegister, registerRequest(2, address, 0), 4).output;
        EXPECT_EQ(out.size(), 4u) << std::hex << address;
        return out.size() == 4 ? static_cast<std::uint32_t>(le(out, 0, 4)) : 0xDEADBEEF;
    }
    void write(OrvekCardModel& model, std::uint32_t address, std::uint32_t value) {
        EXPECT_TRUE(model.answer(kRegister, registerRequest(3, address, value), 0).output.empty());
    }
    // The extra monitor's two words, as the card shows them and as the selected config encodes.
    void expectExtraPmic(OrvekCardModel& model, std::uint32_t selector) {
        EXPECT_EQ(model.selectedExtraPmic(), selector);
        PowerWords expected;
        if (const auto& monitor = model.config().extraPower[selector])
            expected = encodePowerMonitor(*monitor);
        EXPECT_EQ(read(model, 0x0FC12040), expected.first) << selector;
        EXPECT_EQ(read(model, 0x0FC12044), expected.second) << selector;
    }

    ManualSimClock clock;
};

TEST_F(OrvekCard, CurrentIdentityBlockByteForByte) {
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
    EXPECT_EQ(answer(describedCard(), kIdentity, 128), expected);
    EXPECT_EQ(answer(describedCard(), kIdentity, 1040), expected);  // the 128-byte form only
    EXPECT_TRUE(answer(describedCard(), kIdentity, 127).empty());

    OrvekCardConfig card = describedCard();
    card.firmware = {3, 1000, std::nullopt, 15};  // minor 1000 = 0x3E8
    card.memoryGiB = 256;                         // code 7
    card.location = {LocationKind::SlotChain, {}, {1, 4, 0x1234}};
    Bytes block = answer(card, kIdentity, 128);
    ASSERT_EQ(block.size(), 128u);
    EXPECT_THAT(Bytes(block.begin() + 4, block.begin() + 12),
                ::testing::ElementsAre(0xE8, 0x0F,    // 3 << 10 | 1000 = 0x0FE8
                                       0x4F, 0x1F,    // 7 | 1 << 3 | 1 << 6 | 15 << 8 | 1 << 12
                                       0, 0, 0, 0));  // no patch: the firmware word is 0
    EXPECT_THAT(Bytes(block.begin() + 64, block.begin() + 80),
                ::testing::ElementsAre(0x02, 0x40,  // kind 1, three items
                                       0x01, 0x00, 0x04, 0x00, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0));
    card.location = {LocationKind::None, {}, {}};
    block = answer(card, kIdentity, 128);
    EXPECT_EQ(Bytes(block.begin() + 64, block.begin() + 80), Bytes(16, 0));
}

TEST_F(OrvekCard, LegacyIdentityTableAnswersOnlyTheLargeRequest) {
    OrvekCardConfig card = describedCard();
    card.identityForm = IdentityForm::Legacy;
    for (std::int32_t index : {5, 64, -1}) {  // outside the table: every entry empty
        card.legacyIndex = index;
        Bytes expected(1040, 0);
        const std::uint8_t head[] = {0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x07, 0x00};
        std::copy(std::begin(head), std::end(head), expected.begin());
        for (int i = 0; i < 4; ++i) expected[8 + i] = static_cast<std::uint8_t>(index >> (8 * i));
        const std::uint8_t entry[] = {0x9C, 0x1D, 0x00, 0x01,   // vendor | device << 16
                                      0x02, 0x04, 0x4B, 0x12,   // subsystem vendor, subsystem
                                      0x00, 0x00, 0x00, 0x00,   // not read
                                      0x04, 0x08, 0x01, 0x00};  // gen, lanes, revision
        if (index == 5) std::copy(std::begin(entry), std::end(entry), expected.begin() + 96);
        EXPECT_EQ(answer(card, kIdentity, 1040), expected) << index;
    }
    EXPECT_TRUE(answer(card, kIdentity, 128).empty());
    EXPECT_TRUE(answer(card, kIdentity, 1039).empty());
}

// Below 1.2.4 the selector is bits 28-29 of 0x0FC12068; from 1.2.4, bits 0-1 of 0x0FC12050. Each
// firmware ignores the other word; 1.2 without a patch compares as 1.2.0.
TEST_F(OrvekCard, ExtraPmicSelectorLivesInTheWordOfTheFirmware) {
    for (const FirmwareVersion& firmware :
         {FirmwareVersion{1, 2, 3, 0}, FirmwareVersion{1, 2, std::nullopt, 0},
          FirmwareVersion{1, 2, 4, 0}, FirmwareVersion{1, 3, std::nullopt, 0}}) {
        const bool newer = firmware.code() >= 0x01020004;
        OrvekCardConfig card;
        card.firmware = firmware;
        card.extraPower[0] = PowerMonitorConfig{0x2260, 0.85, 8.0, 0};
        card.extraPower[1] = PowerMonitorConfig{0xA480, 1.792, 1.0, 0};
        card.extraPower[3] = PowerMonitorConfig{0x49D2, 3.3, 12.5, 0};
        card.extraPmicSelected = 1;
        OrvekCardModel model(card, clock);
        EXPECT_EQ(read(model, 0x0FC12068), newer ? 0x00000C00u : 0x10000C00u);
        EXPECT_EQ(read(model, 0x0FC12050), newer ? 0x80000001u : 0x80000000u);
        expectExtraPmic(model, 1);

        // As the library writes: the other bits written back (bit 31 cleared in the newer).
        write(model, newer ? 0x0FC12050 : 0x0FC12068, newer ? 0x00000003 : 0x30000C00);
        EXPECT_EQ(read(model, newer ? 0x0FC12050 : 0x0FC12068), newer ? 3u : 0x30000C00u);
        expectExtraPmic(model, 3);
        write(model, newer ? 0x0FC12068 : 0x0FC12050, newer ? 0x10000C00 : 0);  // ignored
        expectExtraPmic(model, 3);
        write(model, newer ? 0x0FC12050 : 0x0FC12068, newer ? 0x00000002 : 0x20000C00);
        expectExtraPmic(model, 2);  // no monitor: two zero words
    }
}

TEST_F(OrvekCard, ConcurrentConnectionsLeaveTheWordsMatchingTheSelector) {
    OrvekCardConfig card;
    card.firmware = {1, 3, 0, 0};
    card.extraPower = {PowerMonitorConfig{0x2260, 0.85, 8.0, 0}, std::nullopt,
                       PowerMonitorConfig{0x49D2, 3.3, 12.5, 0}, PowerMonitorConfig{}};
    OrvekCardModel model(card, clock);
    std::vector<std::thread> connections;
    for (std::uint32_t t = 0; t < 4; ++t) {
        connections.emplace_back([&model, t] {
            for (std::uint32_t i = 0; i < 500; ++i) {
                model.answer(kRegister, registerRequest(3, 0x0FC12050, (t + i) % 4), 0);
                model.answer(kRegister, registerRequest(2, 0x0FC12040, 0), 4);
                model.answer(kUsage, {}, 10352);
            }
        });
    }
    for (std::thread& connection : connections) connection.join();
    expectExtraPmic(model, model.selectedExtraPmic());
}

// Only a read or a write of a register the card has, and one that does not fail, does anything.
TEST_F(OrvekCard, RefusedRegisterRequestsTransferNothingAndChangeNothing) {
    OrvekCardConfig card;
    card.faults.failingRegisters = {0x0FC12058, 0x0FC12050};
    OrvekCardModel model(card, clock);
    const Bytes refused[] = {registerRequest(2, 0x0FC12000, 0),  // no such register
                             registerRequest(3, 0x0FC12000, 1),
                             registerRequest(7, 0x0FC1205C, 0),  // no such operation
                             registerRequest(4, 0x0FC1205C, 0x11111111),
                             registerRequest(2, 0x0FC12058, 0),   // failing
                             registerRequest(3, 0x0FC12050, 2)};  // failing: the write is dropped
    for (const Bytes& input : refused)
        EXPECT_TRUE(model.answer(kRegister, input, 4).output.empty());
    EXPECT_TRUE(model.answer(kUsage, {}, 10351).output.empty());  // the reply is 10352 bytes
    EXPECT_EQ(model.selectedExtraPmic(), 0u);
    EXPECT_EQ(model.registerValue(0x0FC12050), 0x80000000u);
    EXPECT_EQ(read(model, 0x0FC1205C), (40u << 24) | 30u);  // the defaults, untouched
}

// A config outside its ranges never reaches the driver's image, which indexes arrays by them.
TEST_F(OrvekCard, ConfigsOutsideTheirRangesAreRefused) {
    auto refused = [&](auto change) {
        OrvekCardConfig card;
        change(card);
        EXPECT_THROW((void)OrvekCardModel(card, clock), std::invalid_argument);
    };
    refused([](OrvekCardConfig& c) { c.npuClockMHz = 4295; });  // would overflow the Hz register
    refused([](OrvekCardConfig& c) { c.memoryUsedBytes = (16ull << 30) + 1; });
    refused([](OrvekCardConfig& c) { c.extraPmicSelected = 4; });
    refused([](OrvekCardConfig& c) { c.location = {LocationKind::SlotChain, {}, {}}; });
    refused([](OrvekCardConfig& c) { c.faults.failingRegisters = {0x0FC12000}; });
}

// Ring r of a usage reply (32-byte header, then 1032 bytes per ring), as the library reads it.
orvek::CoreActivity ringOf(const Bytes& reply, std::size_t r) {
    const std::size_t base = 32 + 1032 * r;
    orvek::CoreActivity ring;
    ring.head = reply.at(base + 2);
    ring.count = reply.at(base + 3);
    for (std::size_t i = 0; i < 64; ++i) {
        ring.intervals[i] = {le(reply, base + 8 + 16 * i), le(reply, base + 16 + 16 * i)};
    }
    return ring;
}

TEST_F(OrvekCard, UsageReplyFollowsAConstantLoadAtEverySampledMoment) {
    OrvekCardConfig card;
    card.memoryUsedBytes = 0x0000000312345678;
    card.load = {0.0, 0.01, 0.25, 0.5, 0.75, 0.95, 1.0, 0.333, 0.6, 0.1};
    OrvekCardModel model(card, clock);
    int openSamples = 0, closedSamples = 0;
    // Steps that are not a multiple of the period land at every phase of it, on both sides of
    // the end of the busy part.
    for (int sample = 0; sample < 400; ++sample) {
        clock.advance(sample % 7 == 0 ? 10'000 : 1'237);
        const Bytes reply = model.answer(kUsage, {}, 10352).output;
        ASSERT_EQ(reply.size(), 10352u);
        ASSERT_EQ(le(reply, 0), clock.nowMicroseconds());
        ASSERT_EQ(le(reply, 24), 0x0000000312345678u);
        for (std::size_t core = 0; core < 10; ++core) {
            const orvek::CoreActivity ring = ringOf(reply, core);
            ASSERT_LE(ring.head, 63u);
            // Within 0.4% of the load up to 0.98, within 1.6% above (activity_ring.h).
            EXPECT_NEAR(orvek::busyFraction(ring, le(reply, 0)), card.load[core],
                        card.load[core] > 0.98 ? 0.017 : 0.005)
                << "core " << core << " at " << le(reply, 0) << " head " << int(ring.head);
            const bool open = ring.intervals[ring.head].start == ring.intervals[ring.head].end;
            if (card.load[core] > 0) (open ? openSamples : closedSamples)++;
        }
    }
    EXPECT_GT(openSamples, 100);
    EXPECT_GT(closedSamples, 100);
}

TEST_F(OrvekCard, WavingLoadMovesAndTheRingKeepsUp) {
    OrvekCardConfig card;
    card.load.fill(0.5);
    card.loadWaveAmplitude = 0.6;
    card.loadWavePeriodSeconds = 20;
    OrvekCardModel model(card, clock);
    double lowest = 1, highest = 0;
    for (int step = 0; step < 200; ++step) {
        clock.advance(123'457);  // 200 samples over about 25 s: more than one period
        const Bytes reply = model.answer(kUsage, {}, 10352).output;
        for (std::size_t core : {0u, 6u}) {
            const double fraction = orvek::busyFraction(ringOf(reply, core), le(reply, 0));
            // The ring spans 0.63 s, over which the wave itself moves by up to about 0.06.
            EXPECT_NEAR(fraction, loadAt(card, core, le(reply, 0)), 0.04) << core;
            lowest = std::min(lowest, fraction);
            highest = std::max(highest, fraction);
        }
    }
    EXPECT_LT(lowest, 0.3);
    EXPECT_GT(highest, 0.7);
}

TEST_F(OrvekCard, EarlyClockGivesAShortHistoryNeverAWrongOne) {
    OrvekCardConfig card;
    card.load.fill(0.5);
    ManualSimClock early(0);
    OrvekCardModel fresh(card, early);
    for (int step = 0; step < 80; ++step, early.advance(9'001)) {
        const orvek::CoreActivity ring = ringOf(fresh.answer(kUsage, {}, 10352).output, 0);
        // Every interval the count names, back from the head (from the one before it while the
        // head is open), is the busy part of a period that has run.
        const int open = ring.intervals[ring.head].start == ring.intervals[ring.head].end;
        for (int i = 1; i <= ring.count; ++i) {
            const orvek::BusyInterval& counted = ring.intervals[(ring.head + 64 - open - i) % 64];
            EXPECT_LT(counted.start, counted.end) << step << " " << i;
            EXPECT_LE(counted.end, early.nowMicroseconds()) << step << " " << i;
        }
    }
}

}  // namespace
}  // namespace crvmon::sim::testing
