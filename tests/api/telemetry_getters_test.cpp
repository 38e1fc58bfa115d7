// The telemetry getters through the public functions, for both chip families, against the
// simulator: which devices have which values, and the values the scenario fixes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crvmon.h"
#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/private_simulation.h"
#include "tests/support/status_check.h"

namespace crvmon {
namespace {

constexpr crvmonTargetDeviceType_t kCard = CRVMON_TARGET_ORVEK_PCIE;
constexpr crvmonTargetDeviceType_t kUsb = CRVMON_TARGET_VELTARA_USB_KIND1;

constexpr const char* kMachine =
    "[[orvek]]\ntemperature = 255\nswitch_temperature = 200\nfan_duty = 35\nchip_id = 2\n"
    "npu_clock_mhz = 1200\nbus_clock_mhz = 600\nfirmware = \"1.2.4\"\n"
    "memory_used = 1_073_741_824\nload = [0.25, 0.0, 0.0, 0.0, 0.5, 0.0, 0.0, 0.0, 0.0, 0.0]\n"
    "board_power = { chip = 0x5449, volts = 12.0, amps = 2.0, watts = 10.0 }\n"
    "extra_power = [{ selector = 0, chip = 0x2260, volts = 5.0, amps = 0.5 },\n"
    "               { selector = 1, chip = 0x546E, volts = 12.0, amps = 5.0 }]\n"
    "[[orvek]]\nload = 0.9\n"
    "[[veltara]]\nkind = 1\npages_in_use = 3\nnpu_clock_mhz = 933\ntemperature_mc = -1500\n"
    "work = [{ pid = 10, start_us = 0, period_us = 100000, busy_us = 50000 }]\n";

class TelemetryGettersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        simulation_ =
            std::make_unique<sim::PrivateSimulation>(sim::parseScenario(kMachine), clock_);
        clock_->advance(5'000'000);
        ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    }
    void TearDown() override { corvanta::crvmonShutdown(); }

    template <class Getter>
    static auto read(Getter getter, crvmonTargetDeviceType_t type,
                     crvmonStatusCode_t expected = CRVMON_STATUS_OK) {
        crvmonStatusCode_t status = testing::kNoStatus;
        auto value = getter(type, 0, status);
        EXPECT_EQ(status, expected) << "type " << type;
        return value;
    }

    std::shared_ptr<sim::ManualSimClock> clock_ = std::make_shared<sim::ManualSimClock>();
    std::unique_ptr<sim::PrivateSimulation> simulation_;
};

TEST_F(TelemetryGettersTest, ClocksAndChipId) {
    EXPECT_EQ(read(corvanta::crvmonGetNPUClock, kUsb), 933);
    EXPECT_EQ(read(corvanta::crvmonGetBusClock, kCard), 600);
    EXPECT_EQ(read(corvanta::crvmonGetChipId, kCard), 2);
    EXPECT_EQ(read(corvanta::crvmonGetBusClock, kUsb, CRVMON_STATUS_NOT_SUPPORTED), -1);
    EXPECT_EQ(read(corvanta::crvmonGetChipId, kUsb, CRVMON_STATUS_NOT_SUPPORTED), -1);
}

TEST_F(TelemetryGettersTest, TemperaturesAndFan) {
    // A temperature byte of 0xFF is 255 degrees, not the absent value.
    EXPECT_EQ(read(corvanta::crvmonGetTemperature, kCard), 255);
    // Milli-degrees truncate toward zero.
    EXPECT_EQ(read(corvanta::crvmonGetTemperature, kUsb), -1);
    EXPECT_EQ(read(corvanta::crvmonGetPcieSwitchTemperature, kCard), 200);
    EXPECT_EQ(read(corvanta::crvmonGetFanDuty, kCard), 35);
    EXPECT_EQ(read(corvanta::crvmonGetPcieSwitchTemperature, kUsb, CRVMON_STATUS_NOT_SUPPORTED),
              -1);
    EXPECT_EQ(read(corvanta::crvmonGetFanDuty, kUsb, CRVMON_STATUS_NOT_SUPPORTED), -1);
}

TEST_F(TelemetryGettersTest, PowerAndTheExtraPmicSelector) {
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetTotalVoltage, kCard), 12.0);
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetTotalCurrent, kCard), 2.0);
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetTotalPower, kCard), 10.0);
    EXPECT_EQ(read(corvanta::crvmonGetExtraPmicId, kCard), CRVMON_EXTRA_PMIC_0);
    EXPECT_NEAR(read(corvanta::crvmonGetExtraPmicVoltage, kCard), 5.0, 0.002);

    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(kCard, 0, CRVMON_EXTRA_PMIC_1), CRVMON_STATUS_OK);
    EXPECT_EQ(read(corvanta::crvmonGetExtraPmicId, kCard), CRVMON_EXTRA_PMIC_1);
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetExtraPmicCurrent, kCard), 5.0);
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetExtraPmicPower, kCard), 60.0);

    // Lookup first, then the gate: only target type 3 takes the selector.
    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(kCard, 2, CRVMON_EXTRA_PMIC_1),
              CRVMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(CRVMON_TARGET_ORVEK, 0, CRVMON_EXTRA_PMIC_1),
              CRVMON_STATUS_TARGET_NOT_FOUND);
    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(kUsb, 0, CRVMON_EXTRA_PMIC_1),
              CRVMON_STATUS_NOT_SUPPORTED);
    for (auto getter : {corvanta::crvmonGetTotalVoltage, corvanta::crvmonGetTotalCurrent,
                        corvanta::crvmonGetTotalPower, corvanta::crvmonGetExtraPmicVoltage,
                        corvanta::crvmonGetExtraPmicCurrent, corvanta::crvmonGetExtraPmicPower}) {
        EXPECT_EQ(read(getter, kUsb, CRVMON_STATUS_NOT_SUPPORTED), -1.0);
    }
    EXPECT_EQ(read(corvanta::crvmonGetExtraPmicId, kUsb, CRVMON_STATUS_NOT_SUPPORTED),
              CRVMON_EXTRA_PMIC_0);
}

TEST_F(TelemetryGettersTest, UtilisationAndCores) {
    const auto cores = read(corvanta::crvmonGetCoreInfos, kCard);
    ASSERT_EQ(cores.size(), 10u);
    // The activity rings the card samples hold the scenario's loads within a few millionths.
    EXPECT_NEAR(static_cast<double>(cores[0].busyTime), 500'000.0, 100.0);
    EXPECT_NEAR(static_cast<double>(cores[1].busyTime), 750'000.0, 100.0);
    EXPECT_NEAR(static_cast<double>(cores[2].busyTime), 500'000.0, 100.0);
    EXPECT_EQ(cores[5].busyTime, 0);

    // The total is the average of the eight cores, the whole-cluster entries left out:
    // (0.75 + 0.5 + 0.5 + 0.5) / 8; with the whole entries it would be 27.5.
    EXPECT_NEAR(read(corvanta::crvmonGetTotalUtilization, kCard), 28.125, 0.05);

    // Ten loads of 0.9 make every core 1.8 busy: the total stops at exactly 100.
    EXPECT_GIVES(100.0, CRVMON_STATUS_OK, corvanta::crvmonGetTotalUtilization, kCard, 1);

    const auto usb = read(corvanta::crvmonGetCoreInfos, kUsb);
    ASSERT_EQ(usb.size(), 1u);
    EXPECT_EQ(usb[0].cluster, 0x10000u);
    EXPECT_EQ(usb[0].core, 1u);
    EXPECT_EQ(usb[0].totalTime, 1'000'000);
    // Half of every 100 ms busy, read at a period's end: exactly half the window.
    EXPECT_EQ(usb[0].busyTime, 500'000);
    EXPECT_DOUBLE_EQ(read(corvanta::crvmonGetTotalUtilization, kUsb), 50.0);
}

TEST(TelemetryWithoutData, ValuesTheDeviceCannotGiveAreAbsentNotMadeUp) {
    sim::PrivateSimulation simulation(
        sim::parseScenario("[[orvek]]\nload = 0.5\n[orvek.faults]\nusage_reply_length = 88\n"
                           "failing_writes = [0x0FC12050]\n"
                           "[[veltara]]\n[veltara.faults]\n"
                           "reply_length = { IOC_GET_CLOCK_NPU = 8 }\n"));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    EXPECT_TRUE(corvanta::crvmonGetCoreInfos(kCard, 0, status).empty());
    EXPECT_EQ(status, CRVMON_STATUS_NOT_SUPPORTED);
    EXPECT_GIVES(-1.0, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetTotalUtilization, kCard, 0);
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetMemoryUsage, kCard, 0);
    // Register-backed values are still there.
    EXPECT_GIVES(1000, CRVMON_STATUS_OK, corvanta::crvmonGetNPUClock, kCard, 0);
    // A selector the card did not take is not reported as set.
    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(kCard, 0, CRVMON_EXTRA_PMIC_1),
              CRVMON_STATUS_NOT_SUPPORTED);
    EXPECT_GIVES(CRVMON_EXTRA_PMIC_0, CRVMON_STATUS_OK, corvanta::crvmonGetExtraPmicId, kCard, 0);
    // A clock command that fails gives no clock, not the command's failure code.
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetNPUClock, kUsb, 0);
    corvanta::crvmonShutdown();
}

}  // namespace
}  // namespace crvmon
