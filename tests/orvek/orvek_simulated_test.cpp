// Orvek cards end to end: the library against the simulated driver, through crvmonInit and the
// getters, and through the monitors it enters into the monitor table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "crvmon.h"
#include "lib/api/library_state.h"
#include "lib/monitor/monitor_table.h"
#include "lib/orvek/orvek_discovery.h"
#include "lib/registry/backend_probes.h"
#include "sim/model/orvek_card_model.h"
#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/private_simulation.h"
#include "tests/support/status_check.h"

namespace crvmon {
namespace {

using ::testing::HasSubstr;

constexpr auto kCard = CRVMON_TARGET_ORVEK_PCIE;

// Two cards: current identity form with firmware 1.2.3 and a monitor behind selector 2, and the
// older form.
constexpr const char* kTwoCards =
    "[[orvek]]\ndevice_index = 0\nfirmware = \"1.2.3\"\nfirmware_revision = 2\n"
    "driver_version = [1, 8, 2, 7]\nvendor_id = 0x1D9C\ndevice_id = 0x0100\nmemory_gib = 16\n"
    "pcie_gen = 4\npcie_lanes = 8\npcie_rev = 1\npcie_class_code = 0x120000\n"
    "location = \"0000:03:00.0\"\n"
    "extra_power = [{ selector = 2, chip = 0x546E, volts = 12.0, amps = 5.0 }]\n"
    "[[orvek]]\ndevice_index = 1\nfirmware = \"1.3\"\ndriver_version = [1, 9, 0, 1]\n"
    "identity_form = \"legacy\"\nlegacy_index = 1\nmemory_gib = 64\ndevice_id = 0x0200\n";

class OrvekSimulatedTest : public ::testing::Test {
  protected:
    void serve(const std::string& scenarioText, sim::ReplyFilters filters = {}) {
        simulation_ = std::make_unique<sim::PrivateSimulation>(sim::parseScenario(scenarioText),
                                                               clock_, std::move(filters));
    }
    void TearDown() override { corvanta::crvmonShutdown(); }

    // A getter's value for the card at this index, its status checked.
    template <class Getter>
    static auto read(Getter getter, int index, crvmonStatusCode_t expected = CRVMON_STATUS_OK) {
        crvmonStatusCode_t status = testing::kNoStatus;
        auto value = getter(kCard, index, status);
        EXPECT_EQ(status, expected);
        return value;
    }

    // The monitor behind the card at this index, as the metric accessors will reach it.
    static OrvekMonitor& monitorOf(int index) {
        crvmonStatusCode_t status;
        const DeviceHandle* handle = registry().lookupDevice(kCard, index, status);
        EXPECT_NE(handle, nullptr);
        OrvekMonitor* monitor = monitorTable().lookup(handle->record().monitorKey);
        EXPECT_NE(monitor, nullptr);
        return *monitor;
    }

    std::shared_ptr<sim::ManualSimClock> clock_ =
        std::make_shared<sim::ManualSimClock>(1'000'000'000);
    std::unique_ptr<sim::PrivateSimulation> simulation_;
};

TEST_F(OrvekSimulatedTest, CardsOfBothIdentityFormsAreFoundWithTheirIdentity) {
    serve(kTwoCards);
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_GIVES(2, CRVMON_STATUS_OK, corvanta::crvmonGetTargetDeviceCount, kCard);

    // Vendor, device id, CRC, slot, firmware text, the first card's memory and the driver's
    // version are read through crvmon-smi (tests/tools/smi/test_smi_cli.py); here the rest.
    EXPECT_EQ(read(corvanta::crvmonGetSubVendorId, 0), (1 << 10) | 2);
    EXPECT_EQ(read(corvanta::crvmonGetSubDeviceId, 0), 0x0203);  // 16 GiB (code 3), revision 2
    EXPECT_EQ(read(corvanta::crvmonGetPcieGen, 0), 4);
    EXPECT_EQ(read(corvanta::crvmonGetPcieLanes, 0), 8);
    EXPECT_EQ(read(corvanta::crvmonGetPcieRev, 0), 1);
    EXPECT_EQ(read(corvanta::crvmonGetPcieClassCode, 0), 0x120000);
    EXPECT_EQ(read(corvanta::crvmonGetFirmwareRevision, 0), 2);
    EXPECT_EQ(read(corvanta::crvmonGetSignalType, 0), 0);
    EXPECT_EQ(read(corvanta::crvmonGetDriverType, 0), CRVMON_DRIVER_ORVEK);
    EXPECT_EQ(read(corvanta::crvmonGetOnDeviceDriverVersion, 0, CRVMON_STATUS_NOT_SUPPORTED),
              "N/A");

    // The older form gives ids, link and driver version; no class code, patch or location.
    EXPECT_EQ(read(corvanta::crvmonGetDeviceId, 1), 0x0200);
    EXPECT_EQ(read(corvanta::crvmonGetFirmwareVersion, 1), "1.3");
    EXPECT_EQ(read(corvanta::crvmonGetPcieClassCode, 1, CRVMON_STATUS_NOT_SUPPORTED), -1);
    EXPECT_EQ(read(corvanta::crvmonGetMemoryTotal, 1), 64LL << 30);
    EXPECT_GIVES(7u, CRVMON_STATUS_OK, corvanta::crvmonGetDriverRevision, CRVMON_DRIVER_ORVEK);
}

// The register values themselves are read through the getters in
// tests/api/telemetry_getters_test.cpp; here, the selector of firmware before 1.2.4.
TEST_F(OrvekSimulatedTest, FirmwareBefore124SwitchesMonitorsThroughTheOlderSelector) {
    serve(kTwoCards);
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    OrvekMonitor& card = monitorOf(0);
    EXPECT_EQ(card.getExtraPmicId(), CRVMON_EXTRA_PMIC_0);
    card.setExtraPmicId(CRVMON_EXTRA_PMIC_2);
    EXPECT_EQ(card.getExtraPmicId(), CRVMON_EXTRA_PMIC_2);
    const MonitorInfo* info = card.getInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ((info->pmicSelectLegacy >> 28) & 3, 2u);
    EXPECT_FLOAT_EQ(info->extraPmicVoltage, 12.0f);
    EXPECT_FLOAT_EQ(info->extraPmicPower, 60.0f);
    // A selector without a monitor reads as zero.
    card.setExtraPmicId(CRVMON_EXTRA_PMIC_3);
    EXPECT_EQ(card.getInfo()->extraPmicVoltage, 0.0f);
}

// The scan that opens every card before this one must not lend this card another's firmware:
// a card of the older form keeps its selector in the older register, whatever card 0 runs.
TEST_F(OrvekSimulatedTest, ACardOfTheOlderFormUsesTheOlderSelectorAfterANewerCard) {
    serve(
        "[[orvek]]\ndevice_index = 0\nfirmware = \"1.2.4\"\n"
        "[[orvek]]\ndevice_index = 1\nidentity_form = \"legacy\"\nlegacy_index = 1\n");
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(kCard, 1, CRVMON_EXTRA_PMIC_2), CRVMON_STATUS_OK);
    const MonitorInfo* info = monitorOf(1).getInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ((info->pmicSelectLegacy >> 28) & 3, 2u);
    EXPECT_EQ(info->pmicSelect, sim::OrvekCardModel::kPmicSelectBase);  // bit 31 still set
    EXPECT_EQ(read(corvanta::crvmonGetExtraPmicId, 1), CRVMON_EXTRA_PMIC_2);
}

#if !defined(_WIN32)
struct Interval {
    std::size_t slot;
    std::uint64_t start, end;
};

// Every usage reply of full size, its first `rings` rings holding only these intervals with this
// head and count, taken at `now`.
sim::ReplyFilters usageRings(std::size_t rings, std::uint8_t head, std::uint8_t count,
                             std::vector<Interval> intervals, std::uint64_t now) {
    sim::ReplyFilters filters;
    filters.orvek = [=](int, std::uint32_t code, std::vector<std::uint8_t>& output,
                        std::uint32_t&) {
        namespace usage = orvek::wire::usage_reply;
        if (code != orvek::wire::kIoctlUsage || output.size() != usage::kSize) return;
        for (std::size_t r = 0; r < rings; ++r) {
            std::uint8_t* ring = output.data() + usage::kRings + r * usage::kRingSize;
            std::memset(ring + usage::kIntervals, 0, usage::kIntervalCount * usage::kIntervalSize);
            ring[usage::kHead] = head;
            ring[usage::kCount] = count;
            for (const Interval& i : intervals) {
                const std::uint64_t words[2] = {i.start, i.end};
                std::memcpy(ring + usage::kIntervals + i.slot * usage::kIntervalSize, words, 16);
            }
        }
        std::memcpy(output.data() + usage::kTimestamp, &now, sizeof now);
    };
    return filters;
}

// Every core's ring: one interval of 100 units, then the running one, read at its end: busy the
// whole time since the interval began, a fraction of exactly 1, which is a core busy all the
// time, not a ring that cannot be right.
TEST_F(OrvekSimulatedTest, CoresBusyAllTheTimeAreAHundredPercent) {
    serve("[[orvek]]\n", usageRings(orvek::wire::usage_reply::kRingCount, 1, 1,
                                    {{0, 100, 200}, {1, 150, 200}}, 200));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_EQ(read(corvanta::crvmonGetCoreInfos, 0).size(), 10u);
    EXPECT_EQ(read(corvanta::crvmonGetTotalUtilization, 0), 100.0);
}

// Intervals that end before they start make a busy part larger than the window: the cores'
// times would not fit their records. Such rings are no busy data; the memory in use, a field of
// its own in the same reply, stands.
TEST_F(OrvekSimulatedTest, UsageRingsThatCannotBeRightGiveNoBusyData) {
    // One counted interval, 63, that lasts longer than the time from its start to now.
    serve("[[orvek]]\nload = 0.5\nmemory_used = 4096\n",
          usageRings(1, 0, 1, {{0, 500, 2000}, {63, 10, 5000}}, 2001));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_TRUE(read(corvanta::crvmonGetCoreInfos, 0, CRVMON_STATUS_NOT_SUPPORTED).empty());
    EXPECT_EQ(read(corvanta::crvmonGetTotalUtilization, 0, CRVMON_STATUS_NOT_SUPPORTED), -1.0);
    EXPECT_EQ(read(corvanta::crvmonGetMemoryUsage, 0), 4096);
}
#endif

// A register that transfers nothing would read as 0 degrees: its values fail, the others stay.
TEST_F(OrvekSimulatedTest, RegistersThatTransferNothingFailOnlyTheirOwnValues) {
    serve(
        "[[orvek]]\ntemperature = 47\nfan_duty = 35\n[orvek.faults]\n"
        "failing_registers = [0x0FC12058]\n");
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_EQ(read(corvanta::crvmonGetTemperature, 0, CRVMON_STATUS_NOT_SUPPORTED), -1);
    EXPECT_EQ(read(corvanta::crvmonGetFanDuty, 0), 35);
    EXPECT_EQ(monitorOf(0).getInfo()->unread, MonitorInfo::kUnreadThermal);
}

#if !defined(_WIN32)
// Part of a word is no word; and a register that answers again gives its value again.
TEST_F(OrvekSimulatedTest, RegisterRepliesCutShortFailOnlyWhileTheyAreCut) {
    sim::ReplyFilters filters;
    auto cut = std::make_shared<std::atomic<bool>>(true);
    filters.orvek = [cut](int, std::uint32_t code, std::vector<std::uint8_t>& output,
                          std::uint32_t&) {
        if (code == orvek::wire::kIoctlRegister && output.size() == 4 && *cut) output.resize(2);
    };
    serve("[[orvek]]\ntemperature = 47\n", std::move(filters));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_EQ(read(corvanta::crvmonGetTemperature, 0, CRVMON_STATUS_NOT_SUPPORTED), -1);
    *cut = false;
    EXPECT_EQ(read(corvanta::crvmonGetTemperature, 0), 47);
}
#endif

TEST_F(OrvekSimulatedTest, ADriverOfAnotherMajorVersionIsRefusedWithALineOnStdout) {
    serve("[[orvek]]\ndriver_version = [2, 0, 0, 0]\n");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_NOT_INITIALIZED);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("No driver installed"));
    EXPECT_THAT(out, HasSubstr("*E: Driver version does not matched, this reference driver "
                               "version = 1.8\n"));
}

TEST_F(OrvekSimulatedTest, RefusedCardsAreSkippedAndLaterOnesStillOpen) {
    // Card 1: an older table of the wrong length; card 2: an older table naming an entry
    // outside itself. Both are refused silently; every probe's scan still counts card 0, so
    // card 3 opens. Minor, patch and revision of the driver are not checked.
    serve(R"(orvek = [
    { device_index = 0, driver_version = [1, 9, 3, 0] },
    { device_index = 1, identity_form = "legacy", faults = { legacy_reply_length = 1024 } },
    { device_index = 2, identity_form = "legacy", legacy_index = 64 },
    { device_index = 3 },
])");
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_GIVES(2, CRVMON_STATUS_OK, corvanta::crvmonGetTargetDeviceCount, kCard);
    EXPECT_EQ(read(corvanta::crvmonGetNodeName, 0), "/dev/orvek0");
    EXPECT_EQ(read(corvanta::crvmonGetNodeName, 1), "/dev/orvek3");
    EXPECT_GIVES("1.9.3", CRVMON_STATUS_OK, corvanta::crvmonGetDriverVersion, CRVMON_DRIVER_ORVEK);
}

TEST_F(OrvekSimulatedTest, OnlyTargetType3TakesTheExtraPmicSelector) {
    serve(kTwoCards);
    // The same cards, as a probe would give them with target type 1.
    BackendProbes probes = libraryBackendProbes();
    probes.probeOrvek = [](const std::string& nodePath) {
        DeviceRecord record = orvek::probeOrvekDevice(nodePath);
        record.targetType = CRVMON_TARGET_ORVEK;
        return record;
    };
    installBackendProbes(probes);
    const crvmonStatusCode_t initialised = corvanta::crvmonInit();
    restoreBackendProbes();
    ASSERT_EQ(initialised, CRVMON_STATUS_OK);

    EXPECT_EQ(corvanta::crvmonSetExtraPmicID(CRVMON_TARGET_ORVEK, 0, CRVMON_EXTRA_PMIC_2),
              CRVMON_STATUS_NOT_SUPPORTED);
    // Reading the selector works on type 1 too; the refused call changed nothing.
    EXPECT_GIVES(CRVMON_EXTRA_PMIC_0, CRVMON_STATUS_OK, corvanta::crvmonGetExtraPmicId,
                 CRVMON_TARGET_ORVEK, 0);
}

}  // namespace
}  // namespace crvmon
