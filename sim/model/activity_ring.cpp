#include "sim/model/activity_ring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace crvmon::sim {
namespace {

// Busy microseconds at the start of a period: never zero for a core with load, or its interval
// would read as still open; never more than the period.
std::uint64_t busyLength(const OrvekCardConfig& config, std::size_t core, std::uint64_t period) {
    const double load = loadAt(config, core, period * kActivityPeriod);
    const double stretched =
        load * static_cast<double>(kActivityPeriod) * (kActivityWindow + 1) / kActivityWindow;
    const auto length = static_cast<std::uint64_t>(std::llround(stretched));
    return std::clamp<std::uint64_t>(length, 1, kActivityPeriod);
}

}  // namespace

double loadAt(const OrvekCardConfig& config, std::size_t core, std::uint64_t micros) {
    const double base = config.load[core];
    if (config.loadWaveAmplitude == 0) return base;
    const double seconds = static_cast<double>(micros) / 1e6;
    // Cores and cards drift apart in phase so that a table of them does not move in lockstep.
    const double phase = 2 * std::numbers::pi *
                         (seconds / config.loadWavePeriodSeconds +
                          static_cast<double>(core) / kCoreEntries + 0.37 * config.deviceIndex);
    return std::clamp(base * (1 + config.loadWaveAmplitude * std::sin(phase)), 0.0, 1.0);
}

ActivityRing activityRing(const OrvekCardConfig& config, std::size_t core, std::uint64_t now) {
    ActivityRing ring;
    const std::uint64_t current = now / kActivityPeriod;
    ring.head = static_cast<std::uint8_t>(current % kRingIntervals);
    if (config.load[core] == 0) return ring;

    const std::uint64_t currentBusy = busyLength(config, core, current);
    const bool open = now < current * kActivityPeriod + currentBusy;

    // The ring keeps the last 64 periods; before the clock has run that long it holds fewer.
    const std::uint64_t oldest = current >= kRingIntervals - 1 ? current - (kRingIntervals - 1) : 0;
    for (std::uint64_t period = oldest; period <= current; ++period) {
        BusyInterval& slot = ring.intervals[period % kRingIntervals];
        slot.start = period * kActivityPeriod;
        slot.end = period == current ? (open ? slot.start : slot.start + currentBusy)
                                     : slot.start + busyLength(config, core, period);
    }

    // Whole periods before the head the rule may count (one fewer while the head is open).
    const std::uint64_t available = open ? (current == 0 ? 0 : current - 1) : current;
    ring.count = static_cast<std::uint8_t>(std::min<std::uint64_t>(available, kActivityWindow));
    return ring;
}

}  // namespace crvmon::sim
