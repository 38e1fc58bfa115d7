// The activity log in the monitor record: slots written in the order work began, the head, and
// the busy share the library computes from it, as the manual clock moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/veltara_device_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
std::int64_t le(const Bytes& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return width == 4 ? static_cast<std::int32_t>(v) : static_cast<std::int64_t>(v);
}

struct Slot {
    std::int64_t start, end, pid;
    bool operator==(const Slot&) const = default;
};

Slot slotOf(const Bytes& info, std::size_t i) {
    return {le(info, 20 * i, 8), le(info, 20 * i + 8, 8), le(info, 20 * i + 16, 4)};
}

class ActivityLogTest : public ::testing::Test {
  protected:
    // The record `sinceStart` µs after the model (made from `spec` on first use) started.
    Bytes infoAt(std::uint64_t sinceStart) {
        if (!model_) {
            origin_ = clock.nowMicroseconds();
            model_ = std::make_unique<VeltaraDeviceModel>(spec, clock);
        }
        clock.set(origin_ + sinceStart);
        return model_->monitorInfo();
    }
    void restart() { model_.reset(); }

    ManualSimClock clock;
    VeltaraDeviceSpec spec;

  private:
    std::unique_ptr<VeltaraDeviceModel> model_;
    std::uint64_t origin_ = 0;
};

TEST_F(ActivityLogTest, RecordLayoutWithARunningItem) {
    spec.pagesInUse = 3;
    spec.work = {{7, 0, 1000, 400, {}}};
    const Bytes info = infoAt(2300);
    ASSERT_EQ(info.size(), 2576u);
    // Third item, begun at 1,002,000 µs and still running: end 0.
    EXPECT_EQ(Bytes(info.begin() + 40, info.begin() + 60),
              (Bytes{0x10, 0x4A, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(Bytes(info.begin() + 2560, info.end()),
              (Bytes{3, 0, 0, 0, 3, 0, 0, 0, 0x3C, 0x4B, 0x0F, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slotOf(info, 1), (Slot{1'001'000, 1'001'400, 7}));
    EXPECT_EQ(slotOf(info, 3), (Slot{0, 0, 0}));
}

TEST_F(ActivityLogTest, AdvancesWithTheClockAndWrapsAfter128Items) {
    spec.work = {{7, 0, 1000, 400, {}}};
    EXPECT_EQ(le(infoAt(0), 2560, 4), 1);
    EXPECT_EQ(le(infoAt(5'000), 2560, 4), 6);
    const Bytes info = infoAt(129'300);  // items 0-129: items 128 and 129 overwrote slots 0, 1
    EXPECT_EQ(le(info, 2560, 4), 2);
    EXPECT_EQ(slotOf(info, 0), (Slot{1'128'000, 1'128'400, 7}));
    EXPECT_EQ(slotOf(info, 1), (Slot{1'129'000, 0, 7}));
    EXPECT_EQ(slotOf(info, 2), (Slot{1'002'000, 1'002'400, 7}));

    spec.activityHead = ActivityHead::Newest;
    restart();
    EXPECT_EQ(le(infoAt(0), 2560, 4), 0);
    EXPECT_EQ(le(infoAt(1'000), 2560, 4), 1);
}

TEST_F(ActivityLogTest, StreamsInterleaveByStartAndStopOrStartLate) {
    spec.work = {{1, 0, 1000, 100, {}},
                 {2, 0, 2000, 0, {}},          // ends as it begins
                 {3, 500, 1000, 100, 1'600},   // two items, then no more
                 {4, 50'000, 1000, 100, {}}};  // not begun yet
    const Bytes info = infoAt(10'000);
    // At 0 stream 1 before stream 2; then 500 (3), 1000 (1), 1500 (3), 2000 (1, 2), ...
    const std::vector<std::int64_t> pids = {1, 2, 3, 1, 3, 1, 2, 1, 1, 2};
    for (std::size_t i = 0; i < pids.size(); ++i) EXPECT_EQ(slotOf(info, i).pid, pids[i]) << i;
    EXPECT_EQ(slotOf(info, 1), (Slot{1'000'000, 1'000'000, 2}));
    // 11 + 6 + 2 items: nothing of stream 3 after its stop, nothing of stream 4 yet.
    EXPECT_EQ(le(info, 2560, 4), 19);
    EXPECT_EQ(slotOf(info, 19), (Slot{0, 0, 0}));
}

// The library's reading of the log: busy time of the slots within the last 1,000,000 units.
double busyShare(const Bytes& info) {
    constexpr std::int64_t kWindow = 1'000'000;
    const std::int64_t now = le(info, 2568, 8);
    const std::int64_t h = le(info, 2560, 4);
    const std::int64_t a = h, b = (h + 127) % 128;
    const std::int64_t newest = slotOf(info, a).start < slotOf(info, b).start ? b : a;
    std::int64_t busy = 0, window = kWindow, oldest = 0;
    for (std::int64_t i = 0; i < 128; ++i) {
        const Slot s = slotOf(info, static_cast<std::size_t>((newest - i + 128) % 128));
        if (now - s.start > kWindow) {
            const std::int64_t end = s.start <= s.end ? s.end : now;
            if (s.start != 0 && end - (now - kWindow) > 0) busy += end - (now - kWindow);
            return static_cast<double>(busy) / static_cast<double>(window);
        }
        oldest = s.start;
        busy += s.start < s.end ? s.end - s.start : now - s.start;
    }
    window = now - oldest;
    return static_cast<double>(busy) / static_cast<double>(window);
}

TEST_F(ActivityLogTest, TheLibrarysRuleReadsTheScenariosShare) {
    spec.work = {{4120, 0, 100'000, 35'000, {}}};
    for (std::uint64_t t : {2'000'000u, 2'017'000u, 2'050'000u, 7'654'321u}) {
        EXPECT_NEAR(busyShare(infoAt(t)), 0.35, 0.01) << t;
    }
}

}  // namespace
}  // namespace crvmon::sim::testing
