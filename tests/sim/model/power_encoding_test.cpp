// Power monitor words: the model's half-words for the scenario's readings, against words
// worked out by hand from the board's scales (each reading over its step, rounded to nearest).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "sim/model/power_encoding.h"

namespace crvmon::sim::testing {
namespace {

TEST(PowerEncodingWords, MatchTheHandComputedHalfWords) {
    struct Case {
        PowerMonitorConfig readings;
        std::uint32_t first;   // power half-word (a) low, voltage (b) high
        std::uint32_t second;  // current (c) low, chip high
    };
    const Case cases[] = {
        // 12 V / 1.25 mV = 9600 = 0x2580, 2 A / 1 mA = 2000 = 0x07D0, 10 W / 25 mW = 400.
        {{0x5449, 12.0, 2.0, 10.0}, 0x25800190u, 0x544907D0u},
        // 5 V -> 4000 = 0x0FA0; 0.5 A x 6800 / 2.5 = 1360 = 0x0550; no power half-word.
        {{0x2260, 5.0, 0.5, 0}, 0x0FA00000u, 0x22600550u},
        // 12345.6 -> 12346 = 0x303A; 7.1 / 0.25 = 28.4 -> 28; 87.3 / 0.5 = 174.6 -> 175 = 0xAF.
        {{0x2586, 12.3456, 7.1, 87.3}, 0x303A00AFu, 0x2586001Cu},
        // 0.9 V -> 900 = 0x0384; 21.4 A / 0.1 A -> 214 = 0xD6.
        {{0x49D2, 0.9, 21.4, 0}, 0x03840000u, 0x49D200D6u},
        // In bits 4-15: 1.8 V / 25.6 mV = 70.3 -> 70 (0x0460); 1.25 A x 170 = 212.5 -> 213
        // (0x0D50).
        {{0xA480, 1.8, 1.25, 0}, 0x04600000u, 0xA4800D50u},
        // Near the top: 104.8 V -> 4094 (0xFFE0); 24 A x 170 = 4080 (0xFF00).
        {{0xA480, 104.8, 24.0, 0}, 0xFFE00000u, 0xA480FF00u},
    };
    for (const Case& k : cases) {
        const PowerWords words = encodePowerMonitor(k.readings);
        EXPECT_EQ(words.first, k.first) << std::hex << k.readings.chip << " " << k.readings.volts;
        EXPECT_EQ(words.second, k.second) << std::hex << k.readings.chip << " " << k.readings.volts;
    }
}

TEST(PowerEncodingExponentMantissa, PicksTheExponentWithTheFinestStep) {
    struct Case {
        double amps;
        std::uint16_t c;
    };
    // Each takes the smallest exponent whose mantissa still fits 11 bits: 5 A = 1280 x 2^-8
    // (field 32 - 8 = 24); 0.5 A = 1024 x 2^-11, since 2048 x 2^-12 does not fit; 3000 A =
    // 1500 x 2^1. Zero is the all-zero half-word.
    const Case cases[] = {
        {5.0, (24 << 11) | 1280}, {0.5, (21 << 11) | 1024}, {3000.0, (1 << 11) | 1500}, {0.0, 0}};
    for (const Case& k : cases) {
        const PowerWords w = encodePowerMonitor({0x546E, 12.0, k.amps, 0});
        EXPECT_EQ(w.second & 0xFFFF, k.c) << k.amps << " A";
        EXPECT_EQ(w.first, 12000u << 16);
    }
    // A value needing more than 16 fraction bits is rounded at the finest step, 2^-16.
    const PowerWords tiny = encodePowerMonitor({0x546E, 1.0, 0.0001, 0});
    EXPECT_EQ(tiny.second & 0xFFFF, (16u << 11) | 7u);  // 0.0001 x 65536 = 6.55
}

TEST(PowerEncodingLimits, RefusesReadingsTheChipCannotCarry) {
    const PowerMonitorConfig bad[] = {
        {0x5449, 82.0, 1, 1},    // voltage above 65535 x 1.25 mV
        {0x2260, 12, 24.2, 0},   // current above 65535 x 2.5 / 6800 A
        {0xA480, 105.0, 1, 0},   // voltage above 4095 x 25.6 mV
        {0x2586, 12, 1, 40000},  // power above 65535 x 0.5 W
        {0x49D2, -1.0, 1, 0},   {0x546E, 1, std::nan(""), 0},
        {0x1234, 1, 1, 1},  // not a chip the board knows
    };
    for (const PowerMonitorConfig& monitor : bad) {
        EXPECT_THROW(encodePowerMonitor(monitor), std::invalid_argument)
            << std::hex << monitor.chip << " " << monitor.volts << " " << monitor.amps;
    }
    EXPECT_NO_THROW(encodePowerMonitor({0xA480, 104.832, 4095 * 40.0 / 6800, 0}));  // the top
}

}  // namespace
}  // namespace crvmon::sim::testing
