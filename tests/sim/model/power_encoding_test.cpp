// Power monitor words: the model's half-words must decode, by the board's rules, to the
// scenario's readings. The decoding here is written from those rules for the test alone, so
// that the encoder is checked against an independent reading of the same words.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "sim/model/power_encoding.h"

namespace crvmon::sim::testing {
namespace {

struct Reading {
    float volts = 0, amps = 0, watts = 0;
};

Reading decodePowerWords(std::uint32_t first, std::uint32_t second) {
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

struct ChipCase {
    std::uint16_t chip;
    double volts, amps, watts;
    // Half the resolution of each reading: the encoder must land within it.
    double voltStep, ampStep, wattStep;
};

void PrintTo(const ChipCase& k, std::ostream* out) {
    *out << std::hex << "chip_" << k.chip << std::dec << "_" << k.volts << "V";
}

class PowerEncodingTest : public ::testing::TestWithParam<ChipCase> {};

TEST_P(PowerEncodingTest, DecodesBackToTheReadingsWithinTheChipsResolution) {
    const ChipCase& k = GetParam();
    const PowerWords words = encodePowerMonitor({k.chip, k.volts, k.amps, k.watts});
    EXPECT_EQ(words.second >> 16, k.chip);
    const Reading r = decodePowerWords(words.first, words.second);
    EXPECT_NEAR(r.volts, k.volts, k.voltStep / 2 + 1e-6);
    EXPECT_NEAR(r.amps, k.amps, k.ampStep / 2 + 1e-6);
    // Chips without their own power reading give volts x amps of the rounded readings.
    const double watts = k.wattStep > 0 ? k.watts : static_cast<double>(r.volts) * r.amps;
    EXPECT_NEAR(r.watts, watts, (k.wattStep > 0 ? k.wattStep / 2 : 0) + 1e-4);
    if (k.wattStep == 0) {
        EXPECT_EQ(words.first & 0xFFFF, 0u) << "no power half-word";
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryChip, PowerEncodingTest,
    ::testing::Values(ChipCase{0x5449, 12.0, 2.0, 10.0, 0.00125, 0.001, 0.025},
                      ChipCase{0x5449, 11.9876, 3.14159, 37.66, 0.00125, 0.001, 0.025},
                      ChipCase{0x2260, 5.0, 0.5, 0, 0.00125, 2.5 / 6800, 0},
                      ChipCase{0x2586, 12.3456, 7.1, 87.3, 0.001, 0.25, 0.5},
                      ChipCase{0x49D2, 0.9, 21.4, 0, 0.001, 0.1, 0},
                      ChipCase{0x546E, 12.05, 6.75, 0, 0.001, 1.0 / 256, 0},
                      ChipCase{0xA480, 1.8, 1.25, 0, 0.0256, 40.0 / 6800, 0},
                      ChipCase{0xA480, 104.8, 24.0, 0, 0.0256, 40.0 / 6800, 0}));

TEST(PowerEncodingWords, MatchTheHandComputedHalfWords) {
    // 12 V / 1.25 mV = 9600 = 0x2580, 2 A / 1 mA = 2000 = 0x07D0, 10 W / 25 mW = 400 = 0x0190.
    PowerWords w = encodePowerMonitor({0x5449, 12.0, 2.0, 10.0});
    EXPECT_EQ(w.first, 0x25800190u);
    EXPECT_EQ(w.second, 0x544907D0u);
    // 5 V -> 4000 = 0x0FA0; 0.5 A x 6800 / 2.5 = 1360 = 0x0550.
    w = encodePowerMonitor({0x2260, 5.0, 0.5, 0});
    EXPECT_EQ(w.first, 0x0FA00000u);
    EXPECT_EQ(w.second, 0x22600550u);
    // 1.8 V / 25.6 mV = 70.3 -> 70, in bits 4-15: 0x0460; 1.25 A x 170 = 212.5 -> 212 or 213.
    w = encodePowerMonitor({0xA480, 1.8, 1.25, 0});
    EXPECT_EQ(w.first >> 16, 0x0460u);
    EXPECT_EQ(w.second & 0xF, 0u) << "the low four bits of c are not part of the current";
}

TEST(PowerEncodingExponentMantissa, PicksTheExponentWithTheFinestStep) {
    struct Case {
        double amps;
        std::uint16_t c;
    };
    // Each takes the smallest exponent whose mantissa still fits 11 bits: 5 A = 1280 x 2^-8
    // (field 32 - 8 = 24); 10 A = 1280 x 2^-7; 0.5 A = 1024 x 2^-11, since 2048 x 2^-12 does not
    // fit; 3000 A = 1500 x 2^1. Zero is the all-zero half-word.
    const Case cases[] = {{5.0, (24 << 11) | 1280},
                          {10.0, (25 << 11) | 1280},
                          {0.5, (21 << 11) | 1024},
                          {3000.0, (1 << 11) | 1500},
                          {0.0, 0}};
    for (const Case& k : cases) {
        const PowerWords w = encodePowerMonitor({0x546E, 12.0, k.amps, 0});
        EXPECT_EQ(w.second & 0xFFFF, k.c) << k.amps << " A";
        EXPECT_EQ(w.first >> 16, 12000u);
        EXPECT_FLOAT_EQ(decodePowerWords(w.first, w.second).amps, static_cast<float>(k.amps));
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
