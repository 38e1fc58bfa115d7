// One simulated Orvek card's activity rings, read by the library's own rule against the
// scenario's load at every phase of the load's period. The card's identity, registers and
// selector, and its faults, are tested through the library (tests/orvek/
// orvek_simulated_test.cpp); the bounds of the card logic in tests/sim/orvek/card_upload_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lib/orvek/busy_fraction.h"
#include "sim/model/orvek_card_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kUsage = 0x00222042;

std::uint64_t le(const Bytes& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
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

TEST(OrvekCard, UsageReplyFollowsAConstantLoadAtEverySampledMoment) {
    ManualSimClock clock;
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

}  // namespace
}  // namespace crvmon::sim::testing
