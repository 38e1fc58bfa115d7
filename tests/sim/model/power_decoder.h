// The board's power monitor decoding, written from its rules for the tests alone, so that the
// model's encoder is checked against an independent reading of the same words.
#pragma once

#include <cstdint>

namespace crvmon::sim::testing {

struct Reading {
    float volts = 0;
    float amps = 0;
    float watts = 0;
};

inline Reading decodePowerWords(std::uint32_t first, std::uint32_t second) {
    const std::uint32_t a = first & 0xFFFF, b = first >> 16, c = second & 0xFFFF, d = second >> 16;
    Reading r;
    switch (d) {
        case 0x5449:
            r.volts = static_cast<float>(b * 1.25 / 1000);
            r.amps = static_cast<float>(c / 1000.0);
            r.watts = static_cast<float>(a * 25.0 / 1000);
            break;
        case 0x2260:
            r.volts = static_cast<float>(b * 1.25 / 1000);
            r.amps = static_cast<float>(c * 2.5 / 6800.0);
            r.watts = r.amps * r.volts;
            break;
        case 0x2586:
            r.volts = static_cast<float>(b / 1000.0);
            r.amps = static_cast<float>(c * 0.25);
            r.watts = static_cast<float>(a * 0.5);
            break;
        case 0x49D2:
            r.volts = static_cast<float>(b) / 1000.0f;
            r.amps = static_cast<float>(c) / 10.0f;
            r.watts = r.amps * r.volts;
            break;
        case 0x546E: {
            r.volts = static_cast<float>(b) / 1000.0f;
            const std::uint32_t m = c & 0x7FF, e = c >> 11;
            r.amps = e < 16 ? static_cast<float>(m) * static_cast<float>(1u << e)
                            : static_cast<float>(m) / static_cast<float>(1u << (32 - e));
            r.watts = r.volts * r.amps;
            break;
        }
        case 0xA480:
            r.volts = static_cast<float>((b >> 4) * 25.6 / 1000);
            r.amps = static_cast<float>(((c >> 4) * 40) / 6800.0);
            r.watts = r.amps * r.volts;
            break;
    }
    return r;
}

}  // namespace crvmon::sim::testing
