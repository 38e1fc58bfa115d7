// Busy time per process from hand-made activity logs (window 1,000,000, now 50,000,000).
#include <gtest/gtest.h>

#include <array>
#include <map>

#include "lib/common/little_endian.h"
#include "lib/veltara/client/telemetry_queries.h"

namespace crvmon::veltara {
namespace {

constexpr std::int64_t kNow = 50'000'000;

using Busy = std::map<std::int32_t, std::int64_t>;

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
    // The busy times at `now`, counted over a window that must be `window` long.
    Busy busy(std::int64_t now = kNow, std::int64_t window = 1'000'000) const {
        Busy result{{99, 1}};  // stale entries must go
        std::int64_t counted = -1;
        collect_busy_times(now, bytes_, result, counted);
        EXPECT_EQ(counted, window) << "at " << now;
        return result;
    }
    const std::array<std::uint8_t, 2576>& bytes() const { return bytes_; }

  private:
    std::array<std::uint8_t, 2576> bytes_{};
};

TEST(BusyTimes, SlotsInsideCountWholeAndTheStraddlingOneCountsItsPartInside) {
    const Busy busy = ActivityLog()
                          .head(10)  // points at the slot after the newest
                          .slot(9, 49'500'000, 49'700'000, 7)
                          .slot(8, 49'200'000, 49'300'000, 8)
                          .slot(7, 48'900'000, 49'100'000, 7)
                          .busy();
    EXPECT_EQ(busy, Busy({{7, 300'000}, {8, 100'000}}));

    // Inside the window, end equal to start means still running: busy up to now.
    EXPECT_EQ(ActivityLog().head(0).slot(0, 49'900'000, 49'900'000, 4).busy(),
              Busy({{4, 100'000}}));
    // A slot that began exactly one window ago is inside it, not before it: still running, it
    // fills the window (before it, the same slot would count as ended with nothing inside).
    EXPECT_EQ(ActivityLog().head(0).slot(0, 49'000'000, 49'000'000, 4).busy(),
              Busy({{4, 1'000'000}}));
}

TEST(BusyTimes, AllSlotsInsideTheWindowShortenIt) {
    ActivityLog log;
    log.head(127);
    for (int i = 0; i < 128; ++i) log.slot(i, 49'400'000 + 1000 * i, 49'400'000 + 1000 * i + 10, 5);
    EXPECT_EQ(log.busy(kNow, 600'000), Busy({{5, 1280}}));
}

}  // namespace
}  // namespace crvmon::veltara
