// Veltara devices end to end: crvmonInit against the simulated host service, and the telemetry
// queries on the devices it opened; and the target type the probe takes from the flags.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "crvmon.h"
#include "lib/api/library_state.h"
#include "lib/platform/win32.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/telemetry_queries.h"
#include "lib/veltara/client/veltara_client.h"
#include "lib/veltara/client/veltara_wire.h"
#include "lib/veltara/veltara_probe.h"
#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/private_simulation.h"
#include "tests/support/status_check.h"

namespace crvmon {
namespace {

constexpr auto kKind0 = CRVMON_TARGET_VELTARA_USB_KIND0;
constexpr auto kKind1 = CRVMON_TARGET_VELTARA_USB_KIND1;

class VeltaraSimulatedTest : public ::testing::Test {
  protected:
    // Serves the scenario and initialises the library on it; returns crvmonInit's status.
    crvmonStatusCode_t start(const std::string& scenarioText, sim::ReplyFilters filters = {}) {
        simulation_ = std::make_unique<sim::PrivateSimulation>(sim::parseScenario(scenarioText),
                                                               clock_, std::move(filters));
        ::testing::internal::CaptureStderr();
        const crvmonStatusCode_t status = corvanta::crvmonInit();
        stderr_ = ::testing::internal::GetCapturedStderr();
        return status;
    }
    void TearDown() override { corvanta::crvmonShutdown(); }

    static const DeviceRecord& device(crvmonTargetDeviceType_t type, int index) {
        crvmonStatusCode_t status;
        const DeviceHandle* handle = registry().lookupDevice(type, index, status);
        EXPECT_NE(handle, nullptr) << type << "/" << index;
        static const DeviceRecord none;
        return handle != nullptr ? handle->record() : none;
    }
    static int count(crvmonTargetDeviceType_t type) {
        crvmonStatusCode_t status;
        return corvanta::crvmonGetTargetDeviceCount(type, status);
    }

    std::shared_ptr<sim::ManualSimClock> clock_ = std::make_shared<sim::ManualSimClock>();
    std::unique_ptr<sim::PrivateSimulation> simulation_;
    std::string stderr_;
};

TEST_F(VeltaraSimulatedTest, DevicesOpenByListPositionWithTheirKindVersionsAndMemory) {
    ASSERT_EQ(start("[[veltara]]\ndev_no = 7\nname = \"first\"\nkind = 0\nsignal_type = 2\n"
                    "driver_version = [2, 5, 3, 1]\nhost_driver_version = [1, 2, 3, 0]\n"
                    "memory_pages = 0x40000\n"
                    "[[veltara]]\ndev_no = 3\nname = \"second\"\nkind = 1\n"
                    "host_driver_version = [9, 9, 9, 0]\nmemory_pages = 0x100000\n"),
              CRVMON_STATUS_OK);
    EXPECT_EQ(count(kKind0), 1);
    EXPECT_EQ(count(kKind1), 1);

    const DeviceRecord& first = device(kKind0, 0);
    EXPECT_EQ(first.nodePath, "/dev/veltara-usb0");
    EXPECT_EQ(first.client->name(), "first");
    EXPECT_EQ(first.driverType, CRVMON_DRIVER_VELTARA_USB);
    EXPECT_EQ(first.memoryTotal, 1073741824LL);
    EXPECT_EQ(first.vendorId, -1);
    EXPECT_EQ(device(kKind1, 0).client->name(), "second");
    // 2^20 pages of 4096 bytes: 4 GiB, beyond 32 bits.
    EXPECT_EQ(device(kKind1, 0).memoryTotal, 4'294'967'296LL);

    const auto usb = CRVMON_DRIVER_VELTARA_USB;
    EXPECT_GIVES("1.2.3", CRVMON_STATUS_OK, corvanta::crvmonGetDriverVersion, usb);
    EXPECT_GIVES(0u, CRVMON_STATUS_OK, corvanta::crvmonGetDriverRevision, usb);
    EXPECT_GIVES("2.5.3", CRVMON_STATUS_OK, corvanta::crvmonGetOnDeviceDriverVersion, kKind0, 0);
    EXPECT_GIVES(1, CRVMON_STATUS_OK, corvanta::crvmonGetOnDeviceDriverRevision, kKind0, 0);
    EXPECT_GIVES(2, CRVMON_STATUS_OK, corvanta::crvmonGetSignalType, kKind0, 0);
    EXPECT_EQ(stderr_, "");
}

TEST_F(VeltaraSimulatedTest, EntriesTheListDoesNotHoldAreNoDevices) {
    // Devices 0 and 1, counted as 4, and a third record of the first one's number without a
    // name, with instances enough for five more clients of either (32 each): a position past
    // the records sent, or at the count, or naming the nameless record, would open device 0
    // again, at crvmonInit and here.
    sim::ReplyFilters filters;
    filters.veltara = [](std::wstring_view pipe, std::span<const std::uint8_t>,
                         sim::VeltaraReply& reply) {
        if (pipe != L"\\\\.\\pipe\\veltara" || reply.bytes.size() < 4 + 68) return;
        std::vector<std::uint8_t> nameless(68, 0);
        std::copy_n(reply.bytes.begin() + 4, 4, nameless.begin());  // the first one's number
        reply.bytes.insert(reply.bytes.end(), nameless.begin(), nameless.end());
    };
    ASSERT_EQ(start("[veltara_service]\npipe_instances = 254\nlist_count = 4\n"
                    "[[veltara]]\n[[veltara]]\n",
                    std::move(filters)),
              CRVMON_STATUS_OK);
    EXPECT_GIVES(2, CRVMON_STATUS_OK, corvanta::crvmonGetDeviceCount);
    const DeviceRecord beyond = veltara::probeVeltaraDevice("/dev/veltara-usb2");
    EXPECT_FALSE(beyond.open);
    EXPECT_EQ(beyond.client, nullptr);
    veltara::veltara_close(beyond.client);
}

TEST_F(VeltaraSimulatedTest, DriversThatDisagreeAreExplainedAndTheDeviceDropped) {
    const struct {
        const char* versions;
        const char* says;  // the whole of standard error
    } cases[] = {
        // On-device revision 2, host supports 3: the on-device driver is the outdated one.
        {"driver_version = [2, 5, 0, 2]\nhost_revision = 3",
         "The On-device driver revision (2) does not match the revision supported by the host USB "
         "driver (3).\nThe On-device driver is outdated. Please update the On-device driver to "
         "match revision.\n"},
        {"driver_version = [2, 5, 0, 4]\nhost_revision = 3",
         "The On-device driver revision (4) does not match the revision supported by the host USB "
         "driver (3).\nThe Host USB driver is outdated. Please update the Host USB driver to match "
         "revision.\n"},
        // Both at revision 2: they agree, but this library speaks revision 1 only.
        {"driver_version = [2, 5, 0, 2]\nhost_revision = 2",
         "The detected veltara-driver version is not supported. Please update the "
         "corvanta-cli.\n"},
        // A host USB driver whose own revision is not 0 is refused without a word.
        {"host_driver_version = [1, 2, 3, 1]", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(start(std::string("[[veltara]]\n") + c.versions + "\n"),
                  CRVMON_STATUS_NOT_INITIALIZED)
            << c.versions;
        EXPECT_EQ(stderr_, c.says + std::string("Failed to initialize - No driver installed\n"))
            << c.versions;
        simulation_.reset();
    }
}

TEST_F(VeltaraSimulatedTest, FailedCommandsAtOpen) {
    // Driver information that cannot be read drops the device; a signal type that cannot be
    // read is none; when the second driver information request of the probe fails, the first
    // reply gives the record; a host information reply cut short is no driver version.
    sim::ReplyFilters filters;
    auto driverInfos = std::make_shared<std::atomic<int>>(0);
    filters.veltara = [driverInfos](std::wstring_view pipe, std::span<const std::uint8_t> request,
                                    sim::VeltaraReply& reply) {
        if (pipe == L"\\\\.\\pipe\\veltara_again" && request.size() >= 4 &&
            load32(request.data()) == veltara::wire::code::kDriverInfo && ++*driverInfos == 2) {
            reply.bytes.resize(10);
        }
    };
    ASSERT_EQ(start(R"(veltara = [
    { name = "noinfo", faults = { reply_length = { IOC_DRIVER_INFO = 200 } } },
    { name = "nosignal", kind = 0, faults = { reply_length = { IOC_GET_SIGNAL_TYPE = 8 } } },
    { name = "again", kind = 1, memory_pages = 0x100 },
    { name = "shorthost", faults = { reply_length = { IOC_HOST_INFO = 20 } } },
])",
                    std::move(filters)),
              CRVMON_STATUS_OK);
    crvmonStatusCode_t status;
    ASSERT_EQ(corvanta::crvmonGetDeviceCount(status), 2);
    ASSERT_EQ(count(kKind0), 1);
    ASSERT_EQ(count(kKind1), 1);
    EXPECT_EQ(device(kKind0, 0).client->name(), "nosignal");
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetSignalType, kKind0, 0);
    EXPECT_EQ(device(kKind1, 0).client->name(), "again");
    EXPECT_GIVES(0x100LL * 4096, CRVMON_STATUS_OK, corvanta::crvmonGetMemoryTotal, kKind1, 0);
    EXPECT_EQ(*driverInfos, 2);
    // The cut host information is a failed command, not a revision of 0 to complain about.
    EXPECT_EQ(stderr_, "");
}

TEST_F(VeltaraSimulatedTest, TheProcessListSumsRowsAndLeavesOutTheCaller) {
    const std::string self = std::to_string(_getpid());
    ASSERT_EQ(start(R"(
[[veltara]]
work = [{ pid = 10, start_us = 0, period_us = 100000, busy_us = 50000 }]
process = [
    { pid = 10, count = 1, amount = 100 },
    { pid = 11, count = 2, amount = 200 },
    { pid = 10, count = 3, amount = 300 },
    { pid = )" + self +
                    R"(, count = 9, amount = 900 },
]
)"),
              CRVMON_STATUS_OK);
    clock_->advance(5'000'000);
    const auto processes = *veltara::veltara_get_process_infos(device(kKind1, 0));
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes[0].pid, 10);
    EXPECT_EQ(processes[0].quantity, 4u);
    EXPECT_EQ(processes[0].amount, 400u);
    EXPECT_EQ(processes[0].totalTime, 1'000'000);
    EXPECT_NEAR(static_cast<double>(processes[0].busyTime), 500'000.0, 50'000.0);
    EXPECT_EQ(processes[1].pid, 11);
    EXPECT_EQ(processes[1].busyTime, 0);
}

TEST_F(VeltaraSimulatedTest, ASnapshotIsReadToItsEndAndReleasedEvenWhenItNeverEnds) {
    // Ids above the test's own: the library leaves the caller's row out, and under Wine the
    // test's id is small enough for 1-100 to take it now and then.
    const int first = _getpid() + 1;
    std::string rows;
    for (int pid = first; pid < first + 100; ++pid) {
        rows += "[[veltara.process]]\npid = " + std::to_string(pid) + "\ncount = 1\n";
    }
    ASSERT_EQ(start("[[veltara]]\nname = \"long\"\n" + rows +
                    "[[veltara]]\nname = \"endless\"\n[veltara.faults]\n"
                    "endless_snapshot = true\n[[veltara.process]]\npid = 5\ncount = 1\n"),
              CRVMON_STATUS_OK);
    const auto all = *veltara::veltara_get_process_infos(device(kKind1, 0));
    ASSERT_EQ(all.size(), 100u);
    EXPECT_EQ(all.back().pid, first + 99);

    // One row read over and over: the reads stop at the guard, 65,536 rows, with no list: the
    // rows so far are not the snapshot.
    const DeviceRecord& endless = device(kKind1, 1);
    EXPECT_EQ(veltara::veltara_get_process_infos(endless), std::nullopt);
    // And the snapshot was released: a read now finds no snapshot, only its end.
    std::uint8_t row[veltara::wire::process_record::kSize] = {};
    ASSERT_EQ(veltara::veltara_ioctl(endless.client, veltara::wire::code::kReadSnapshot, row), 0);
    EXPECT_EQ(row[veltara::wire::process_record::kFlags], veltara::wire::process_record::kEndFlag);
}

TEST_F(VeltaraSimulatedTest, FailedQueriesShowOnlyInTheirValues) {
    ASSERT_EQ(
        start("[[veltara]]\nprocess = [{ pid = 77, count = 1, amount = 1 }]\n[veltara.faults]\n"
              "reply_length = { IOC_GET_MONITOR_INFO = 100, IOC_GET_TEMPERATURE = 8 }\n"
              "status = { IOC_CAPTURE_SNAPSHOT = 5 }\n"),
        CRVMON_STATUS_OK);
    const DeviceRecord& vt = device(kKind1, 0);
    // Nothing made up from what was not read: no core record of an empty window, no process
    // list without busy times.
    EXPECT_EQ(veltara::veltara_get_core_infos(vt), std::nullopt);
    EXPECT_EQ(veltara::veltara_get_process_infos(vt), std::nullopt);
    // Failures, not 0 degrees or bytes.
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetTemperature, kKind1, 0);
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetMemoryUsage, kKind1, 0);
}

// The temperature commands' failure codes share the value's channel: -1 to -7 thousandths of a
// degree read as failures, -8 as the 0 degrees it is. A reply of no bytes at all fails.
TEST_F(VeltaraSimulatedTest, TemperaturesAtTheEdgeOfTheFailureCodes) {
    ASSERT_EQ(start("[[veltara]]\ntemperature_mc = -7\n[[veltara]]\ntemperature_mc = -8\n"
                    "[[veltara]]\n[veltara.faults]\nreply_length = { IOC_GET_TEMPERATURE = 0 }\n"),
              CRVMON_STATUS_OK);
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetTemperature, kKind1, 0);
    EXPECT_GIVES(0, CRVMON_STATUS_OK, corvanta::crvmonGetTemperature, kKind1, 1);
    EXPECT_GIVES(-1, CRVMON_STATUS_NOT_SUPPORTED, corvanta::crvmonGetTemperature, kKind1, 2);
}

}  // namespace
}  // namespace crvmon
