// Per-core activity as the driver records it: a ring of 64 busy intervals per core entry.
//
// Time is cut into periods of kActivityPeriod microseconds; a core is busy from the start of
// each period for a share of it that follows the core's load at that moment. The ring is a pure
// function of the time asked about, so any number of connections see one consistent history.
//
// The library reads a ring as: the n intervals before the head (before the one before the head
// when the head is still open, start == end), plus the open part, over the time since the oldest
// of them began. With n = kActivityWindow the result stays within about 0.4% of the load for
// loads up to 0.98 (a full period of work is stretched by (n + 1) / n to make up for the head
// interval the rule leaves out) and within 1.6% above.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/model/orvek_card_config.h"

namespace crvmon::sim {

constexpr std::uint64_t kActivityPeriod = 10'000;  // microseconds
constexpr std::uint32_t kActivityWindow = 62;      // intervals the ring's count names
constexpr std::size_t kRingIntervals = 64;

struct BusyInterval {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

struct ActivityRing {
    std::uint8_t head = 0;   // 0-63
    std::uint8_t count = 0;  // 0-kActivityWindow
    std::array<BusyInterval, kRingIntervals> intervals{};
};

// The load of one core entry at a moment: the scenario's load swung by its slow wave (each
// core at its own phase), kept within 0..1.
double loadAt(const OrvekCardConfig& config, std::size_t core, std::uint64_t micros);

// The ring of one core entry as the driver shows it at `now`.
ActivityRing activityRing(const OrvekCardConfig& config, std::size_t core, std::uint64_t now);

}  // namespace crvmon::sim
