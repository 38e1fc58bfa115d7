// Readings of the board's power-monitor chips, from the two register words of each.
#pragma once

#include <cstdint>

namespace crvmon::orvek {

struct PowerReading {
    float current = 0;  // A
    float power = 0;    // W
    float voltage = 0;  // V
};

// The chip is named by the high half of the second word; an unknown chip reads all zero.
PowerReading decodePowerMonitor(std::uint32_t first, std::uint32_t second);

// A current in the exponent-and-mantissa layout (5-bit exponent, 11-bit unsigned mantissa).
float decodeExponentMantissa(std::uint16_t word);

}  // namespace crvmon::orvek
