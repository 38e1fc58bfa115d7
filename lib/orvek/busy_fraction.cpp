#include "lib/orvek/busy_fraction.h"

#include <cmath>

namespace crvmon::orvek {

double busyFraction(const CoreActivity& ring, std::uint64_t timestamp) {
    const std::uint64_t n = ring.count;
    if (n == 0) return 0.0;

    // Unsigned arithmetic wraps as the driver's counters do; indices are taken modulo 64.
    constexpr std::uint64_t kMask = 63;
    const std::uint64_t h = ring.head & kMask;
    const BusyInterval& newest = ring.intervals[h];
    const std::uint64_t open = newest.start == newest.end ? 1 : 0;
    const std::uint64_t oldest = (h - open - n) & kMask;

    const std::uint64_t idle = timestamp - newest.end;
    const std::uint64_t span = newest.end - ring.intervals[oldest].start;
    if (idle > span * 3 / n) return 0.0;

    std::uint64_t busy = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
        const BusyInterval& interval = ring.intervals[(oldest + i) & kMask];
        busy += interval.end - interval.start;
    }
    if (open != 0) busy += idle;  // the running interval counts up to now

    const double fraction =
        static_cast<double>(busy) / static_cast<double>(timestamp - ring.intervals[oldest].start);
    // A window of no length has no busy part.
    return std::isfinite(fraction) ? fraction : 0.0;
}

}  // namespace crvmon::orvek
