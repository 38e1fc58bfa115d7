// Busy time per process from hand-made activity logs (window 1,000,000, now 50,000,000).
#include <gtest/gtest.h>

#include <array>
#include <map>

#include "lib/common/little_endian.h"
#include "lib/veltara/client/telemetry_queries.h"

namespace crvmon::veltara {
namespace {

constexpr std::int64_t kNow = 50'000'000;

class ActivityLog {
  public:
    ActivityLog& slot(int index, std::int64_t start, std::int64_t end, std::int32_t pid) {
        std::uint8_t* p = bytes_.data() + 20 * index;
        store64(p, static_cast<std::uint64_t>(start));
        store64(p + 8, static_cast<std::uint64_t>(end));
        store32(p + 16, static_cast<std::uint32_t>(pid));
        return *this;
    }
    ActivityLog& head(std::int32_t value) {
        store32(bytes_.data() + 2560, static_cast<std::uint32_t>(value));
        return *this;
    }
    std::map<std::int32_t, std::int64_t> busy(std::int64_t& window, std::int64_t now = kNow) const {
        std::map<std::int32_t, std::int64_t> result{{99, 1}};  // stale entries must go
        collect_busy_times(now, bytes_, result, window);
        return result;
    }

  private:
    std::array<std::uint8_t, 2576> bytes_{};
};

using Busy = std::map<std::int32_t, std::int64_t>;

TEST(BusyTimes, AnEmptyLogIsIdleForAWholeWindow) {
    std::int64_t window = -1;
    // The walk stops at the newest slot: never written, it adds nothing.
    EXPECT_EQ(ActivityLog().head(5).busy(window), Busy{});
    EXPECT_EQ(window, 1'000'000);
    // Also while the service's clock is still in its first window, where a slot's start of 0
    // is not yet before the window: unwritten slots are no work of process 0.
    EXPECT_EQ(ActivityLog().head(5).busy(window, 1'000'000), Busy{});
    EXPECT_EQ(window, 1'000'000);
    EXPECT_EQ(ActivityLog().head(1).slot(0, 400'000, 600'000, 7).busy(window, 1'000'000),
              Busy({{7, 200'000}}));
    EXPECT_EQ(window, 1'000'000);
}

TEST(BusyTimes, WorkStillRunningBeforeTheWindowFillsIt) {
    std::int64_t window = 0;
    // Begun 2,000,000 ago and not ended: the whole window is busy.
    EXPECT_EQ(ActivityLog().head(3).slot(3, 48'000'000, 0, 7).busy(window), Busy({{7, 1'000'000}}));
    EXPECT_EQ(window, 1'000'000);
    // The same slot having ended at its start counts as ended, with nothing inside the window.
    EXPECT_EQ(ActivityLog().head(3).slot(3, 48'000'000, 48'000'000, 7).busy(window), Busy{});
}

TEST(BusyTimes, SlotsInsideCountWholeAndTheStraddlingOneCountsItsPartInside) {
    std::int64_t window = 0;
    const Busy busy = ActivityLog()
                          .head(10)  // points at the slot after the newest
                          .slot(9, 49'500'000, 49'700'000, 7)
                          .slot(8, 49'200'000, 49'300'000, 8)
                          .slot(7, 48'900'000, 49'100'000, 7)
                          .busy(window);
    EXPECT_EQ(busy, Busy({{7, 300'000}, {8, 100'000}}));
    EXPECT_EQ(window, 1'000'000);

    // Inside the window, end equal to start means still running: busy up to now.
    EXPECT_EQ(ActivityLog().head(0).slot(0, 49'900'000, 49'900'000, 4).busy(window),
              Busy({{4, 100'000}}));
    // A slot that began exactly one window ago is inside it, not before it: still running, it
    // fills the window (before it, the same slot would count as ended with nothing inside).
    EXPECT_EQ(ActivityLog().head(0).slot(0, 49'000'000, 49'000'000, 4).busy(window),
              Busy({{4, 1'000'000}}));
}

TEST(BusyTimes, TheNewestSlotIsFoundAcrossTheRingsEdge) {
    std::int64_t window = 0;
    // Head 0, with slot 127 newer than slot 0: the walk starts at 127 and goes down.
    const Busy busy = ActivityLog()
                          .head(0)
                          .slot(0, 49'000'000 - 500'000, 49'000'000 - 400'000, 1)
                          .slot(127, 49'800'000, 49'900'000, 2)
                          .slot(126, 49'600'000, 49'700'000, 3)
                          .busy(window);
    EXPECT_EQ(busy, Busy({{2, 100'000}, {3, 100'000}}));
    // A negative head wraps the same way.
    EXPECT_EQ(ActivityLog().head(-1).slot(127, 49'800'000, 49'900'000, 2).busy(window),
              Busy({{2, 100'000}}));
}

TEST(BusyTimes, AllSlotsInsideTheWindowShortenIt) {
    ActivityLog log;
    log.head(127);
    for (int i = 0; i < 128; ++i) log.slot(i, 49'400'000 + 1000 * i, 49'400'000 + 1000 * i + 10, 5);
    std::int64_t window = 0;
    EXPECT_EQ(log.busy(window), Busy({{5, 1280}}));
    EXPECT_EQ(window, 600'000);
}

TEST(BusyTimes, HeadsAndTimesOutsideTheirRangeStayInsideTheRing) {
    std::int64_t window = 0;
    // Heads far outside -128..127 still name a slot of the ring (taken modulo its size).
    for (std::int32_t head : {128, 1000, -129, INT32_MIN, INT32_MAX}) {
        ActivityLog log;
        log.head(head).slot(0, 49'950'000, 49'960'000, 1);
        log.busy(window);
        EXPECT_EQ(window, 1'000'000) << head;
    }
    // Timestamps at the ends of their range wrap instead of overflowing.
    ActivityLog extreme;
    extreme.head(1).slot(0, INT64_MIN, INT64_MAX, 3).slot(1, INT64_MAX, INT64_MIN, 4);
    window = 0;
    extreme.busy(window, INT64_MAX);
    EXPECT_EQ(window, 1'000'000);
    window = 0;
    extreme.busy(window, INT64_MIN);
    EXPECT_NE(window, 0);
}

}  // namespace
}  // namespace crvmon::veltara
