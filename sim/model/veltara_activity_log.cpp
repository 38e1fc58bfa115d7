#include "sim/model/veltara_activity_log.h"

#include <algorithm>
#include <tuple>

namespace crvmon::sim {
namespace {

struct Item {
    std::uint64_t start = 0;
    std::size_t stream = 0;
    std::uint64_t end = 0;  // 0 while running
    std::int32_t pid = 0;
};

// Items of one stream that began at or before now.
std::uint64_t itemsBegun(const VeltaraWorkConfig& work, std::uint64_t origin, std::uint64_t now) {
    const std::uint64_t first = origin + work.startUs;
    if (now < first) return 0;
    std::uint64_t count = (now - first) / work.periodUs + 1;
    if (work.stopUs) {
        // Items that begin before the stop time.
        const std::uint64_t span = *work.stopUs - work.startUs;
        count = std::min(count, (span + work.periodUs - 1) / work.periodUs);
    }
    return count;
}

}  // namespace

ActivityLog activityLog(const std::vector<VeltaraWorkConfig>& work, ActivityHead head,
                        std::uint64_t origin, std::uint64_t now) {
    std::uint64_t total = 0;
    std::vector<Item> recent;
    for (std::size_t s = 0; s < work.size(); ++s) {
        const VeltaraWorkConfig& stream = work[s];
        const std::uint64_t count = itemsBegun(stream, origin, now);
        total += count;
        // Only a stream's last 128 items can be among the log's last 128.
        for (std::uint64_t k = count > kActivitySlots ? count - kActivitySlots : 0; k < count;
             ++k) {
            Item item;
            item.start = origin + stream.startUs + k * stream.periodUs;
            item.stream = s;
            item.pid = stream.pid;
            const std::uint64_t end = item.start + stream.busyUs;
            item.end = end <= now ? end : 0;
            recent.push_back(item);
        }
    }
    std::sort(recent.begin(), recent.end(), [](const Item& a, const Item& b) {
        return std::tie(a.start, a.stream) < std::tie(b.start, b.stream);
    });
    const std::size_t kept = std::min(recent.size(), kActivitySlots);
    recent.erase(recent.begin(), recent.end() - static_cast<std::ptrdiff_t>(kept));

    ActivityLog log;
    // The kept items are the last `kept` of all `total`, numbered total - kept onwards.
    for (std::size_t i = 0; i < kept; ++i) {
        const std::uint64_t number = total - kept + i;
        ActivitySlot& slot = log.slots[number % kActivitySlots];
        slot.start = static_cast<std::int64_t>(recent[i].start);
        slot.end = static_cast<std::int64_t>(recent[i].end);
        slot.pid = recent[i].pid;
    }
    const std::uint64_t headNumber = head == ActivityHead::Next || total == 0 ? total : total - 1;
    log.head = static_cast<std::int32_t>(headNumber % kActivitySlots);
    return log;
}

}  // namespace crvmon::sim
