// The usage reply: layout read from the raw bytes, and each ring's busy fraction, computed by
// the library's rule written out here, against the scenario's load at any moment.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/activity_ring.h"
#include "model/orvek_card_model.h"
#include "model/scenario.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kUsage = 0x00222042;

std::uint64_t le64(const Bytes& b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

struct Ring {
    std::uint32_t head = 0, count = 0;
    std::array<std::uint64_t, 64> start{}, end{};
};

// Ring r of a usage reply: 32-byte header, then 1032 bytes per ring.
Ring ringOf(const Bytes& reply, std::size_t r) {
    const std::size_t base = 32 + 1032 * r;
    Ring ring;
    ring.head = reply.at(base + 2);
    ring.count = reply.at(base + 3);
    for (std::size_t i = 0; i < 64; ++i) {
        ring.start[i] = le64(reply, base + 8 + 16 * i);
        ring.end[i] = le64(reply, base + 16 + 16 * i);
    }
    return ring;
}

// The library's rule: the n intervals before the head (one further back while the head is
// open), plus the open part, over the time since the oldest of them began.
double busyFraction(const Ring& ring, std::uint64_t now) {
    const std::uint64_t n = ring.count;
    if (n == 0) return 0.0;
    const std::uint64_t h = ring.head;
    const std::uint64_t open = ring.start[h] == ring.end[h] ? 1 : 0;
    const std::uint64_t o = (h - open - n) % 64;
    const std::uint64_t idle = now - ring.end[h];
    const std::uint64_t span = ring.end[h] - ring.start[o];
    if (idle > span * 3 / n) return 0.0;
    std::uint64_t busy = open ? idle : 0;
    for (std::uint64_t i = 0; i < n; ++i) busy += ring.end[(o + i) % 64] - ring.start[(o + i) % 64];
    return static_cast<double>(busy) / static_cast<double>(now - ring.start[o]);
}

bool headOpen(const Ring& ring) {
    return ring.start[ring.head] == ring.end[ring.head];
}

class ActivityRings : public ::testing::Test {
  protected:
    Bytes usage(OrvekCardModel& model) { return model.answer(kUsage, {}, 10352).output; }
    ManualSimClock clock;
};

TEST_F(ActivityRings, ReplyCarriesTheClockAndMemoryInUse) {
    OrvekCardSpec card;
    card.memoryGiB = 32;
    card.memoryUsedBytes = 0x0000000512345678;
    OrvekCardModel model(card, clock);
    clock.set(0x0123456789AB);
    const Bytes reply = usage(model);
    ASSERT_EQ(reply.size(), 10352u);
    EXPECT_EQ(le64(reply, 0), 0x0123456789ABu);
    EXPECT_EQ(le64(reply, 24), 0x0000000512345678u);
}

TEST_F(ActivityRings, BusyFractionFollowsAConstantLoadAtEverySampledMoment) {
    OrvekCardSpec card;
    card.load = {0.0, 0.01, 0.25, 0.5, 0.75, 0.95, 1.0, 0.333, 0.6, 0.1};
    OrvekCardModel model(card, clock);
    int openSamples = 0, closedSamples = 0;
    // Steps that are not a multiple of the period land at every phase of it, on both sides of
    // the end of the busy part.
    for (int sample = 0; sample < 400; ++sample) {
        clock.advance(sample % 7 == 0 ? 10'000 : 1'237);
        const Bytes reply = usage(model);
        const std::uint64_t now = le64(reply, 0);
        for (std::size_t core = 0; core < 10; ++core) {
            const Ring ring = ringOf(reply, core);
            ASSERT_LE(ring.head, 63u);
            const double fraction = busyFraction(ring, now);
            EXPECT_NEAR(fraction, card.load[core], 0.017)
                << "core " << core << " at " << now << " head " << ring.head;
            if (card.load[core] > 0) (headOpen(ring) ? openSamples : closedSamples)++;
        }
    }
    EXPECT_GT(openSamples, 100);
    EXPECT_GT(closedSamples, 100);
}

TEST_F(ActivityRings, WavingLoadMovesAndTheRingKeepsUp) {
    OrvekCardSpec card;
    card.load.fill(0.5);
    card.loadWaveAmplitude = 0.6;
    card.loadWavePeriodSeconds = 20;
    OrvekCardModel model(card, clock);
    double lowest = 1, highest = 0;
    for (int step = 0; step < 200; ++step) {
        clock.advance(123'457);  // 200 samples over about 25 s: more than one period
        const Bytes reply = usage(model);
        const std::uint64_t now = le64(reply, 0);
        for (std::size_t core : {0u, 6u}) {
            const double fraction = busyFraction(ringOf(reply, core), now);
            // The ring spans 0.63 s, over which the wave itself moves by up to about 0.06.
            EXPECT_NEAR(fraction, loadAt(card, core, now), 0.04) << core << " at " << now;
            lowest = std::min(lowest, fraction);
            highest = std::max(highest, fraction);
        }
    }
    EXPECT_LT(lowest, 0.3);
    EXPECT_GT(highest, 0.7);
}

TEST_F(ActivityRings, BuiltInScenarioShowsLoadThatChanges) {
    const Scenario scenario = builtInScenario();
    for (const OrvekCardSpec& card : scenario.orvekCards) {
        OrvekCardModel model(card, clock);
        const Bytes before = usage(model);
        clock.advance(10'000'000);
        const Bytes after = usage(model);
        const double first = busyFraction(ringOf(before, 0), le64(before, 0));
        const double second = busyFraction(ringOf(after, 0), le64(after, 0));
        EXPECT_GT(first, 0.05);
        EXPECT_GT(std::abs(second - first), 0.05) << "card " << card.deviceIndex;
    }
}

TEST_F(ActivityRings, EarlyClockGivesAShortHistoryNeverAWrongOne) {
    OrvekCardSpec card;
    card.load.fill(0.5);
    ManualSimClock early(0);
    OrvekCardModel fresh(card, early);
    for (int step = 0; step < 80; ++step) {
        const Bytes reply = fresh.answer(kUsage, {}, 10352).output;
        const Ring ring = ringOf(reply, 0);
        EXPECT_LE(ring.count, 62u);
        const double fraction = busyFraction(ring, early.nowMicroseconds());
        EXPECT_GE(fraction, 0.0);
        EXPECT_LE(fraction, 1.0);
        early.advance(9'001);
    }
}

TEST(ManualClock, MovesOnlyForwardAndOnlyWhenTold) {
    ManualSimClock clock(500);
    EXPECT_EQ(clock.nowMicroseconds(), 500u);
    clock.advance(250);
    EXPECT_EQ(clock.nowMicroseconds(), 750u);
    clock.set(100);
    EXPECT_EQ(clock.nowMicroseconds(), 750u);
    clock.set(2'000);
    EXPECT_EQ(clock.nowMicroseconds(), 2'000u);
}

}  // namespace
}  // namespace crvmon::sim::testing
