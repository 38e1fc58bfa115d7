// Register words into the monitor's record, and the extra-PMIC selector's two homes.
#include <gtest/gtest.h>

#include "lib/orvek/register_decoding.h"

namespace crvmon::orvek {
namespace {

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
