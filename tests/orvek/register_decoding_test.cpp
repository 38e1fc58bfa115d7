// Register words into the monitor's record, power-monitor words to amperes, watts and volts (with
// numbers worked out by hand), and the extra-PMIC selector's two homes.
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

// The words in the order of kRefreshRegisters; that the order matches the card is shown through
// the getters against the simulated card.
TEST(RegisterDecoding, EachWordFillsItsFields) {
    MonitorInfo info;
    info.vendorId = 0x1e52;  // identity fields are left alone
    decodeRegisters(
        {1'499'999'999u, 999'999u, 0x30000000u, 2u, 0x2F000000u, 0x3A000C32u, (9600u << 16) | 400u,
         (0x5449u << 16) | 2000u, 12000u << 16, (0x546Eu << 16) | 5u, 0xABCDu},
        info);
    EXPECT_EQ(info.npuClock, 1499u);  // integer division by a million
    EXPECT_EQ(info.busClock, 0u);
    EXPECT_EQ(info.pmicSelectLegacy, 0x30000000u);
    EXPECT_EQ(info.pmicSelect, 2u);
    EXPECT_EQ(info.chipTemperature(), 47);
    EXPECT_EQ(info.fanDuty(), 0x32);
    EXPECT_FLOAT_EQ(info.totalVoltage, 12.0f);
    EXPECT_FLOAT_EQ(info.totalPower, 10.0f);
    EXPECT_FLOAT_EQ(info.extraPmicCurrent, 5.0f);
    EXPECT_FLOAT_EQ(info.extraPmicPower, 60.0f);
    EXPECT_EQ(info.auxStatus, 0xABCDu);
    EXPECT_EQ(info.vendorId, 0x1e52);
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
