// Busy fractions from activity rings, with numbers worked out by hand.
#include <gtest/gtest.h>

#include "lib/orvek/busy_fraction.h"

namespace crvmon::orvek {
namespace {

CoreActivity ring(std::uint8_t head, std::uint8_t count,
                  std::initializer_list<std::pair<std::size_t, BusyInterval>> intervals) {
    CoreActivity r;
    r.head = head;
    r.count = count;
    for (const auto& [index, interval] : intervals) r.intervals[index] = interval;
    return r;
}

TEST(BusyFraction, CountsTheIntervalsBackFromTheHead) {
    const CoreActivity r = ring(2, 2, {{0, {100, 200}}, {1, {300, 400}}, {2, {500, 600}}});
    // Oldest is 0; intervals 0 and 1 are counted: 200 busy of the 600 since 100.
    EXPECT_DOUBLE_EQ(busyFraction(r, 700), 200.0 / 600.0);
    // Idle for 1400, longer than three average intervals (500 * 3 / 2 = 750).
    EXPECT_EQ(busyFraction(r, 2000), 0.0);
    // An idle time exactly at the limit still counts.
    EXPECT_DOUBLE_EQ(busyFraction(r, 600 + 750), 200.0 / 1250.0);
}

TEST(BusyFraction, ARunningIntervalCountsUpToNow) {
    // Head interval 2 has not ended: start == end. Oldest is (2 - 1 - 2) mod 64 = 63.
    const CoreActivity r =
        ring(2, 2, {{63, {100, 200}}, {0, {300, 400}}, {1, {450, 450}}, {2, {500, 500}}});
    // idle = 700 - 500 = 200 <= (500 - 100) * 3 / 2; busy = 100 + 100 + 200.
    EXPECT_DOUBLE_EQ(busyFraction(r, 700), 400.0 / 600.0);
}

TEST(BusyFraction, RingsThatCannotBeCountedGiveZeroOrStayFinite) {
    EXPECT_EQ(busyFraction(ring(5, 0, {{5, {1, 1000}}}), 2000), 0.0);
    // Nothing elapsed since the oldest start: no window, no fraction.
    EXPECT_EQ(busyFraction(ring(0, 1, {{63, {500, 500}}, {0, {500, 500}}}), 500), 0.0);
    // A head beyond the ring wraps around rather than reading past it.
    const CoreActivity wrapped =
        ring(64 + 2, 2, {{0, {100, 200}}, {1, {300, 400}}, {2, {500, 600}}});
    EXPECT_DOUBLE_EQ(busyFraction(wrapped, 700), 200.0 / 600.0);
}

TEST(BusyFraction, ACountAboveTheRingSizeCountsIntervalsAgain) {
    CoreActivity r;
    for (std::size_t i = 0; i < 64; ++i) r.intervals[i] = {1000 + 100 * i, 1000 + 100 * i + 50};
    r.head = 63;
    r.count = 65;
    // Oldest is (63 - 65) mod 64 = 62, and the walk of 65 intervals from it meets 62 twice:
    // 65 intervals of 50. Idle 5 is within (7350 - 7200) * 3 / 65 = 6.
    const std::uint64_t now = r.intervals[63].end + 5;
    EXPECT_DOUBLE_EQ(busyFraction(r, now),
                     65.0 * 50 / static_cast<double>(now - r.intervals[62].start));
    EXPECT_EQ(busyFraction(r, now + 2), 0.0);
}

}  // namespace
}  // namespace crvmon::orvek
