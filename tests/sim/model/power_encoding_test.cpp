// Power monitor words: the model's half-words for the scenario's readings, against words
// worked out by hand from the board's scales (each reading over its step, rounded to nearest).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "sim/model/power_encoding.h"

namespace crvmon::sim::testing {
namespace {

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
