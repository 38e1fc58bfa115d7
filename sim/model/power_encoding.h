// Volts, amperes and watts into the two words a board power monitor shows: the first word holds
// a (low half) and b (high half), the second c (low half) and the chip identifier (high half).
// Each chip scales its half-words differently; the encoder picks the half-words whose decoding
// comes closest to the wanted readings.
#pragma once

#include <cstdint>
#include <string>

#include "sim/model/orvek_card_config.h"

namespace crvmon::sim {

struct PowerWords {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
};

// Throws std::invalid_argument, naming the quantity and the chip's limit, when a reading is
// negative, not finite, beyond what the chip's half-words can carry, or the chip is unknown.
PowerWords encodePowerMonitor(const PowerMonitorConfig& monitor);

// The readings the chip's words carry for the wanted ones: each rounded as encodePowerMonitor
// rounds it, and watts as volts x amps for the chips without a power reading of their own.
// Throws as encodePowerMonitor does.
PowerMonitorConfig nearestReadings(const PowerMonitorConfig& monitor);

// The largest reading of each kind the chip can carry (watts is 0 for chips without their own
// power reading).
struct PowerLimits {
    double volts = 0;
    double amps = 0;
    double watts = 0;
};
PowerLimits powerMonitorLimits(std::uint16_t chip);

}  // namespace crvmon::sim
