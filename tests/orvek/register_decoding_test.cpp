// Power-monitor words to amperes, watts and volts (with numbers worked out by hand), and the
// extra-PMIC selector's two homes.
#include <gtest/gtest.h>

#include "lib/orvek/power_monitor.h"
#include "lib/orvek/register_decoding.h"

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
    // a = own power reading, b = voltage, c = current; numbers worked out by hand.
    expectReading(0x5449, 400, 9600, 2000, {2.0f, 10.0f, 12.0f});
    expectReading(0x2260, 0, 4000, 1360, {0.5f, 2.5f, 5.0f});
    expectReading(0x2586, 30, 12000, 10, {2.5f, 15.0f, 12.0f});
    expectReading(0x49D2, 999, 12000, 25, {2.5f, 30.0f, 12.0f});
    // Voltage from b >> 4 in steps of 25.6 mV; current from c >> 4 in steps of 40/6800 A.
    expectReading(0xA480, 0, 500 << 4, 1700 << 4, {10.0f, 128.0f, 12.8f});
    expectReading(0x546E, 0, 12000, 0x0005, {5.0f, 60.0f, 12.0f});      // exponent and mantissa
    expectReading(0x1234, 0xFFFF, 0xFFFF, 0xFFFF, {0.0f, 0.0f, 0.0f});  // no such chip
}

TEST(RegisterDecoding, TheSelectorMovesRegisterAtFirmware124) {
    const std::uint32_t v123 = 0x01020003, v124 = 0x01020004, v200 = 0x02000000;
    EXPECT_EQ(selectorRegister(0), 0x0FC12068u);
    EXPECT_EQ(selectorRegister(v123), 0x0FC12068u);
    EXPECT_EQ(selectorRegister(v124), 0x0FC12050u);
    EXPECT_EQ(selectorRegister(v200), 0x0FC12050u);

    EXPECT_EQ(selectorFromWord(v123, 0x20000003u), 2u);
    EXPECT_EQ(selectorFromWord(v124, 0x20000003u), 3u);

    // Older firmware: bits 28-29 replaced, everything else kept.
    EXPECT_EQ(wordWithSelector(v123, 0xFFFFFFFFu, 1), 0xDFFFFFFFu);
    EXPECT_EQ(wordWithSelector(v123, 0x00000000u, 7), 0x30000000u);
    // Newer firmware: bits 0-1 replaced and bit 31 written as 0.
    EXPECT_EQ(wordWithSelector(v124, 0x80000001u, 2), 0x00000002u);
    EXPECT_EQ(wordWithSelector(v124, 0xFFFFFFFFu, 0), 0x7FFFFFFCu);
    EXPECT_EQ(wordWithSelector(v124, 0, 5), 1u);  // only the selector's low two bits count
}

}  // namespace
}  // namespace crvmon::orvek
