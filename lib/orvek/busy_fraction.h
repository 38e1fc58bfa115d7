// How busy a core was, from the driver's ring of its recent busy intervals.
#pragma once

#include <array>
#include <cstdint>

namespace crvmon::orvek {

struct BusyInterval {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // equal to start while the interval is still running
};

struct CoreActivity {
    std::uint8_t head = 0;   // newest interval; taken modulo the ring size
    std::uint8_t count = 0;  // intervals to count back from the head
    std::array<BusyInterval, 64> intervals{};
};

// Busy part of the time from the oldest counted interval to `timestamp`, 0.0 when the core has
// been idle for more than three average intervals or the ring holds nothing to count.
double busyFraction(const CoreActivity& ring, std::uint64_t timestamp);

}  // namespace crvmon::orvek
