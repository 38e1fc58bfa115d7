// Register reads and writes: each word against values computed by hand from the board's
// decoding rules, and the extra-PMIC selector in both firmware ranges.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "model/orvek_card_model.h"
#include "model/power_encoding.h"
#include "power_decoder.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kRegister = 0x00222012;

Bytes request(std::uint32_t operation, std::uint32_t address, std::uint32_t value) {
    Bytes bytes;
    for (std::uint32_t word : {operation, address, value}) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    }
    return bytes;
}

class RegisterFile : public ::testing::Test {
  protected:
    // Answers a read, or fails the test when it transfers anything but four bytes.
    std::uint32_t read(OrvekCardModel& model, std::uint32_t address) {
        const Bytes out = model.answer(kRegister, request(2, address, 0), 4).output;
        EXPECT_EQ(out.size(), 4u) << std::hex << address;
        if (out.size() != 4) return 0xDEADBEEF;
        return out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<std::uint32_t>(out[3]) << 24);
    }
    void write(OrvekCardModel& model, std::uint32_t address, std::uint32_t value) {
        EXPECT_TRUE(model.answer(kRegister, request(3, address, value), 0).output.empty());
    }
    Reading extraPmic(OrvekCardModel& model) {
        return decodePowerWords(read(model, 0x0FC12040), read(model, 0x0FC12044));
    }

    static OrvekCardSpec cardWithExtras(FirmwareVersion firmware) {
        OrvekCardSpec card;
        card.firmware = firmware;
        card.extraPower[0] = PowerMonitorSpec{0x2260, 0.85, 8.0, 0};
        card.extraPower[1] = PowerMonitorSpec{0xA480, 1.792, 1.0, 0};
        card.extraPower[3] = PowerMonitorSpec{0x49D2, 3.3, 12.5, 0};
        return card;
    }

    ManualSimClock clock;
};

TEST_F(RegisterFile, WordsCarryTheScenarioValues) {
    OrvekCardSpec card;
    card.npuClockMHz = 1200;
    card.busClockMHz = 4294;
    card.temperatureC = 47;
    card.switchTemperatureC = 41;
    card.fanDutyPercent = 35;
    card.chipId = 2;
    card.auxStatus = 0xA5A51234;
    card.boardPower = {0x5449, 12.0, 2.0, 10.0};
    OrvekCardModel model(card, clock);

    EXPECT_EQ(read(model, 0x0FC12060), 1'200'000'000u);
    EXPECT_EQ(read(model, 0x0FC12064), 4'294'000'000u);
    EXPECT_EQ(read(model, 0x0FC12058), 0x2F000000u);  // 47 in bits 24-31
    EXPECT_EQ(read(model, 0x0FC1205C), 0x29000823u);  // switch 41 << 24 | chip 2 << 10 | fan 35
    EXPECT_EQ(read(model, 0x0FC12034), 0xA5A51234u);
    EXPECT_EQ(read(model, 0x0FC12048), 0x25800190u);  // b = 9600, a = 400
    EXPECT_EQ(read(model, 0x0FC1204C), 0x544907D0u);  // chip, c = 2000
    for (std::uint32_t unused : {0x0FC12070u, 0x0FC12078u, 0x0FC12074u}) {
        EXPECT_EQ(read(model, unused), 0u);
    }
}

TEST_F(RegisterFile, SelectorBelowFirmware124LivesInBits28To29OfTheOlderWord) {
    // 1.2 without a patch compares as 1.2.0.
    for (const FirmwareVersion& firmware :
         {FirmwareVersion{1, 2, 3, 0}, FirmwareVersion{1, 2, std::nullopt, 0}}) {
        OrvekCardSpec card = cardWithExtras(firmware);
        card.extraPmicSelected = 1;
        OrvekCardModel model(card, clock);
        EXPECT_EQ(read(model, 0x0FC12068), 0x10000C00u);
        EXPECT_EQ(read(model, 0x0FC12050), 0x80000000u);
        EXPECT_NEAR(extraPmic(model).volts, 1.792, 1e-5);

        // Selector 3 written the library's way: bits 28-29 replaced, the rest written back.
        write(model, 0x0FC12068, 0x30000C00);
        EXPECT_EQ(read(model, 0x0FC12068), 0x30000C00u);
        EXPECT_EQ(model.selectedExtraPmic(), 3u);
        Reading r = extraPmic(model);
        EXPECT_NEAR(r.volts, 3.3, 1e-5);
        EXPECT_NEAR(r.amps, 12.5, 1e-5);

        // The newer word means nothing to this firmware.
        write(model, 0x0FC12050, 0x00000000);
        EXPECT_EQ(model.selectedExtraPmic(), 3u);
        EXPECT_NEAR(extraPmic(model).volts, 3.3, 1e-5);

        // A selector without a monitor reads as two zero words.
        write(model, 0x0FC12068, 0x20000C00);
        EXPECT_EQ(read(model, 0x0FC12040), 0u);
        EXPECT_EQ(read(model, 0x0FC12044), 0u);
    }
}

TEST_F(RegisterFile, SelectorFromFirmware124LivesInBits0To1OfTheNewerWord) {
    for (const FirmwareVersion& firmware :
         {FirmwareVersion{1, 2, 4, 0}, FirmwareVersion{1, 3, std::nullopt, 0}}) {
        OrvekCardModel model(cardWithExtras(firmware), clock);
        EXPECT_EQ(read(model, 0x0FC12050), 0x80000000u);
        EXPECT_EQ(read(model, 0x0FC12068), 0x00000C00u);
        EXPECT_NEAR(extraPmic(model).amps, 8.0, 2.5 / 6800);

        // What the library writes for id 1 after reading 0x80000000: bit 31 cleared.
        write(model, 0x0FC12050, 0x00000001);
        EXPECT_EQ(read(model, 0x0FC12050), 0x00000001u);
        EXPECT_EQ(model.selectedExtraPmic(), 1u);
        EXPECT_NEAR(extraPmic(model).volts, 1.792, 1e-5);

        write(model, 0x0FC12068, 0x30000C00);  // the older word: no effect here
        EXPECT_EQ(model.selectedExtraPmic(), 1u);
        EXPECT_NEAR(extraPmic(model).volts, 1.792, 1e-5);
    }
}

TEST_F(RegisterFile, ConcurrentConnectionsLeaveTheWordsMatchingTheSelector) {
    OrvekCardModel model(cardWithExtras({1, 3, 0, 0}), clock);
    std::vector<std::thread> connections;
    for (std::uint32_t t = 0; t < 4; ++t) {
        connections.emplace_back([&model, t] {
            for (std::uint32_t i = 0; i < 500; ++i) {
                model.answer(kRegister, request(3, 0x0FC12050, (t + i) % 4), 0);
                model.answer(kRegister, request(2, 0x0FC12040, 0), 4);
                model.answer(0x00222042, {}, 10352);
            }
        });
    }
    for (std::thread& connection : connections) connection.join();
    const std::uint32_t selected = model.selectedExtraPmic();
    PowerWords expected;
    if (const auto& monitor = model.spec().extraPower[selected])
        expected = encodePowerMonitor(*monitor);
    EXPECT_EQ(read(model, 0x0FC12040), expected.first);
    EXPECT_EQ(read(model, 0x0FC12044), expected.second);
}

TEST_F(RegisterFile, MalformedRequestsTransferNothingAndChangeNothing) {
    OrvekCardModel model(OrvekCardSpec{}, clock);
    Bytes shortInput = request(2, 0x0FC12058, 0);
    shortInput.pop_back();
    Bytes longInput = request(2, 0x0FC12058, 0);
    longInput.push_back(0);
    EXPECT_TRUE(model.answer(kRegister, shortInput, 4).output.empty());
    EXPECT_TRUE(model.answer(kRegister, longInput, 4).output.empty());
    EXPECT_TRUE(model.answer(kRegister, {}, 4).output.empty());
    EXPECT_TRUE(model.answer(kRegister, request(2, 0x0FC12058, 0), 3).output.empty());
    EXPECT_TRUE(model.answer(kRegister, request(2, 0x0FC12000, 0), 4).output.empty());
    EXPECT_TRUE(model.answer(kRegister, request(7, 0x0FC12058, 0), 4).output.empty());
    EXPECT_TRUE(model.answer(0x00222016, request(2, 0x0FC12058, 0), 4).output.empty());
    write(model, 0x0FC12000, 1);
    EXPECT_TRUE(model.answer(kRegister, request(4, 0x0FC12058, 0x11111111), 4).output.empty());
    EXPECT_EQ(read(model, 0x0FC12058), 45u << 24);  // the default temperature, untouched
}

}  // namespace
}  // namespace crvmon::sim::testing
