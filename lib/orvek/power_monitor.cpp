#include "lib/orvek/power_monitor.h"

#include <cmath>

namespace crvmon::orvek {

namespace {

enum PowerChip : std::uint16_t {
    kChip5449 = 0x5449,
    kChip2260 = 0x2260,
    kChip2586 = 0x2586,
    kChip49D2 = 0x49D2,
    kChip546E = 0x546E,
    kChipA480 = 0xA480,
};

float toFloat(double value) {
    return static_cast<float>(value);
}

}  // namespace

float decodeExponentMantissa(std::uint16_t word) {
    const unsigned mantissa = word & 0x7FFu;
    const unsigned exponent = word >> 11;
    // Exponents from 16 up stand for the negative ones, -16 to -1.
    if (exponent < 16) return std::ldexp(static_cast<float>(mantissa), static_cast<int>(exponent));
    return std::ldexp(static_cast<float>(mantissa), static_cast<int>(exponent) - 32);
}

PowerReading decodePowerMonitor(std::uint32_t first, std::uint32_t second) {
    const std::uint16_t a = static_cast<std::uint16_t>(first);
    const std::uint16_t b = static_cast<std::uint16_t>(first >> 16);
    const std::uint16_t c = static_cast<std::uint16_t>(second);
    const std::uint16_t chip = static_cast<std::uint16_t>(second >> 16);

    PowerReading r;
    switch (chip) {
        case kChip5449:
            r.voltage = toFloat(b * 1.25 / 1000);
            r.current = toFloat(c / 1000.0);
            r.power = toFloat(a * 25.0 / 1000);
            break;
        case kChip2260:
            r.voltage = toFloat(b * 1.25 / 1000);
            r.current = toFloat(c * 2.5 / 6800.0);
            r.power = r.current * r.voltage;
            break;
        case kChip2586:
            r.voltage = toFloat(b / 1000.0);
            r.current = toFloat(c * 0.25);
            r.power = toFloat(a * 0.5);
            break;
        case kChip49D2:
            r.voltage = static_cast<float>(b) / 1000.0f;
            r.current = static_cast<float>(c) / 10.0f;
            r.power = r.current * r.voltage;
            break;
        case kChip546E:
            r.voltage = static_cast<float>(b) / 1000.0f;
            r.current = decodeExponentMantissa(c);
            r.power = r.voltage * r.current;
            break;
        case kChipA480:
            r.voltage = toFloat((b >> 4) * 25.6 / 1000);
            r.current = toFloat(((c >> 4) * 40) / 6800.0);
            r.power = r.current * r.voltage;
            break;
        default: break;
    }
    return r;
}

}  // namespace crvmon::orvek
