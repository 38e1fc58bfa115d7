#include "sim/model/power_encoding.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace crvmon::sim {
namespace {

// One reading carried as code x step, with the code confined to a bit field.
struct Scale {
    double step;
    std::uint32_t maxCode;
};

std::string hexChip(std::uint16_t chip) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", chip);
    return text;
}

std::uint32_t toCode(double value, const Scale& scale, const char* quantity, const char* unit,
                     std::uint16_t chip) {
    if (!std::isfinite(value) || value < 0) {
        throw std::invalid_argument(std::string(quantity) + " must be a finite number >= 0");
    }
    const double code = std::round(value / scale.step);
    if (code > scale.maxCode) {
        char limit[64];
        std::snprintf(limit, sizeof limit, "%g", scale.maxCode * scale.step);
        throw std::invalid_argument(std::string(quantity) + " is beyond what chip " +
                                    hexChip(chip) + " can report (at most " + limit + " " + unit +
                                    ")");
    }
    return static_cast<std::uint32_t>(code);
}

// Scales of the voltage (b), current (c) and power (a) half-words.
struct ChipScales {
    Scale volts;
    Scale amps;
    Scale watts;  // step 0: no power half-word
};

ChipScales scalesOf(std::uint16_t chip) {
    switch (chip) {
        case power_chip::k5449:
            return {{1.25 / 1000, 0xFFFF}, {1.0 / 1000, 0xFFFF}, {25.0 / 1000, 0xFFFF}};
        case power_chip::k2260: return {{1.25 / 1000, 0xFFFF}, {2.5 / 6800.0, 0xFFFF}, {0, 0}};
        case power_chip::k2586: return {{1.0 / 1000, 0xFFFF}, {0.25, 0xFFFF}, {0.5, 0xFFFF}};
        case power_chip::k49D2: return {{1.0 / 1000, 0xFFFF}, {1.0 / 10, 0xFFFF}, {0, 0}};
        case power_chip::k546E:
            // Current has its own layout; this entry bounds the largest value only.
            return {{1.0 / 1000, 0xFFFF}, {32768.0, 2047}, {0, 0}};
        case power_chip::kA480:
            // Voltage and current occupy bits 4-15 of their half-words.
            return {{25.6 / 1000, 0x0FFF}, {40.0 / 6800.0, 0x0FFF}, {0, 0}};
        default: throw std::invalid_argument("unknown power monitor chip " + hexChip(chip));
    }
}

// The current as an unsigned 11-bit mantissa times 2^k, k from -16 to 15, with the 5-bit
// exponent field holding k (k >= 0) or 32 + k (k < 0). The smallest k that fits the mantissa
// gives the finest step.
std::uint16_t encodeExponentMantissa(double amps) {
    if (amps == 0) return 0;
    for (int k = -16; k <= 15; ++k) {
        const double mantissa = std::round(std::ldexp(amps, -k));
        if (mantissa <= 2047) {
            const auto exponent = static_cast<std::uint32_t>(k < 0 ? 32 + k : k);
            return static_cast<std::uint16_t>((exponent << 11) |
                                              static_cast<std::uint32_t>(mantissa));
        }
    }
    // toCode has bounded the value already.
    return static_cast<std::uint16_t>((15u << 11) | 2047u);
}

double decodeExponentMantissa(std::uint32_t c) {
    const std::uint32_t exponent = c >> 11;
    return std::ldexp(static_cast<double>(c & 0x7FFu),
                      exponent < 16 ? static_cast<int>(exponent) : static_cast<int>(exponent) - 32);
}

}  // namespace

PowerLimits powerMonitorLimits(std::uint16_t chip) {
    const ChipScales scales = scalesOf(chip);
    return {scales.volts.step * scales.volts.maxCode, scales.amps.step * scales.amps.maxCode,
            scales.watts.step * scales.watts.maxCode};
}

PowerWords encodePowerMonitor(const PowerMonitorConfig& monitor) {
    const std::uint16_t chip = monitor.chip;
    const ChipScales scales = scalesOf(chip);
    std::uint32_t b = toCode(monitor.volts, scales.volts, "voltage", "V", chip);
    std::uint32_t a = 0;
    std::uint32_t c = 0;
    if (chip == power_chip::k546E) {
        toCode(monitor.amps, scales.amps, "current", "A", chip);
        c = encodeExponentMantissa(monitor.amps);
    } else {
        c = toCode(monitor.amps, scales.amps, "current", "A", chip);
    }
    if (scales.watts.step != 0) a = toCode(monitor.watts, scales.watts, "power", "W", chip);
    if (chip == power_chip::kA480) {
        b <<= 4;
        c <<= 4;
    }
    return {a | (b << 16), c | (static_cast<std::uint32_t>(chip) << 16)};
}

PowerMonitorConfig nearestReadings(const PowerMonitorConfig& monitor) {
    const PowerWords words = encodePowerMonitor(monitor);
    const ChipScales scales = scalesOf(monitor.chip);
    std::uint32_t b = words.first >> 16;
    std::uint32_t c = words.second & 0xFFFFu;
    if (monitor.chip == power_chip::kA480) {
        b >>= 4;
        c >>= 4;
    }
    PowerMonitorConfig carried = monitor;
    carried.volts = b * scales.volts.step;
    carried.amps =
        monitor.chip == power_chip::k546E ? decodeExponentMantissa(c) : c * scales.amps.step;
    carried.watts = scales.watts.step != 0 ? (words.first & 0xFFFFu) * scales.watts.step
                                           : carried.volts * carried.amps;
    return carried;
}

}  // namespace crvmon::sim
