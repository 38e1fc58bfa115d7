// Power-monitor words to amperes, watts and volts, with numbers worked out by hand.
#include <gtest/gtest.h>

#include "lib/orvek/power_monitor.h"

namespace crvmon::orvek {
namespace {

std::uint32_t word(std::uint16_t high, std::uint16_t low) {
    return (static_cast<std::uint32_t>(high) << 16) | low;
}

struct Expected {
    float current, power, voltage;
};

void expectReading(std::uint16_t chip, std::uint16_t a, std::uint16_t b, std::uint16_t c,
                   Expected e) {
    const PowerReading r = decodePowerMonitor(word(b, a), word(chip, c));
    EXPECT_FLOAT_EQ(r.voltage, e.voltage) << std::hex << chip;
    EXPECT_FLOAT_EQ(r.current, e.current) << std::hex << chip;
    EXPECT_FLOAT_EQ(r.power, e.power) << std::hex << chip;
}

TEST(PowerMonitor, EachChipScalesItsHalfWordsItsOwnWay) {
    // a = own power reading, b = voltage, c = current.
    expectReading(0x5449, 400, 9600, 2000, {2.0f, 10.0f, 12.0f});
    expectReading(0x2260, 0, 4000, 1360, {0.5f, 2.5f, 5.0f});
    expectReading(0x2586, 30, 12000, 10, {2.5f, 15.0f, 12.0f});
    expectReading(0x49D2, 999, 12000, 25, {2.5f, 30.0f, 12.0f});
    // Voltage from b >> 4 in steps of 25.6 mV; current from c >> 4 in steps of 40/6800 A.
    expectReading(0xA480, 0, 500 << 4, 1700 << 4, {10.0f, 128.0f, 12.8f});
}

TEST(PowerMonitor, ExponentMantissaCurrent) {
    expectReading(0x546E, 0, 12000, 0x0005, {5.0f, 60.0f, 12.0f});
    // Exponent 31 halves the mantissa; 16 divides it by 65536; 15 multiplies it by 32768.
    EXPECT_FLOAT_EQ(decodeExponentMantissa(0xF814), 10.0f);
    EXPECT_FLOAT_EQ(decodeExponentMantissa(static_cast<std::uint16_t>((16 << 11) | 2047)),
                    2047.0f / 65536.0f);
    EXPECT_FLOAT_EQ(decodeExponentMantissa((15 << 11) | 3), 3.0f * 32768.0f);
    // The mantissa is unsigned: its top bit does not make the current negative.
    EXPECT_FLOAT_EQ(decodeExponentMantissa(0x07FF), 2047.0f);
}

TEST(PowerMonitor, AnUnknownChipReadsAllZero) {
    for (std::uint16_t chip : {0x1234, 0x0000, 0xFFFF, 0x5448}) {
        const PowerReading r = decodePowerMonitor(0xFFFFFFFF, word(chip, 0xFFFF));
        EXPECT_EQ(r.current, 0.0f);
        EXPECT_EQ(r.power, 0.0f);
        EXPECT_EQ(r.voltage, 0.0f);
    }
}

}  // namespace
}  // namespace crvmon::orvek
