// The activity log a Veltara device keeps: the last 128 work items of all its processes, in a
// ring written in the order the items began.
//
// Timestamps are the sim clock's microseconds (so the library's look-back window of 1,000,000
// units is one second). Item k of a work stream begins at origin + startUs + k * periodUs and
// ends busyUs later; an item still running at `now` has end 0. Items are numbered in the order
// they began (ties by their stream's position in the scenario), and item n takes slot n % 128.
// The log is a pure function of the time asked about, so every connection sees one history.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/model/veltara_device_config.h"

namespace crvmon::sim {

constexpr std::size_t kActivitySlots = 128;

struct ActivitySlot {
    std::int64_t start = 0;  // 0: never written
    std::int64_t end = 0;    // 0 while the item runs
    std::int32_t pid = 0;
};

struct ActivityLog {
    std::array<ActivitySlot, kActivitySlots> slots{};
    std::int32_t head = 0;
};

// origin: the clock's time when the service started; now: the time asked about.
ActivityLog activityLog(const std::vector<VeltaraWorkConfig>& work, ActivityHead head,
                        std::uint64_t origin, std::uint64_t now);

}  // namespace crvmon::sim
