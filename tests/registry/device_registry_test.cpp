// Device discovery and release, through the public functions, on stand-in probes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/registry/device_registry.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/status_check.h"

namespace crvmon::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// The paths a whole initialisation probes: Orvek nodes 0 to `lastOrvek`, then 0-7 of each
// Veltara family.
std::vector<std::string> probeOrder(int lastOrvek) {
    std::vector<std::string> paths;
    for (const auto& [base, last] : {std::pair<std::string, int>{"/dev/orvek", lastOrvek},
                                     {"/dev/veltara-npu", 7},
                                     {"/dev/veltara-usb", 7}}) {
        for (int n = 0; n <= last; ++n) paths.push_back(base + std::to_string(n));
    }
    return paths;
}

using DeviceRegistryTest = StandInLibraryTest;

TEST_F(DeviceRegistryTest, FailuresAddUpOverAFamilyAndTheEighthEndsIt) {
    probes.addDevice("/dev/orvek0", orvekCard());
    probes.addDevice("/dev/orvek5", orvekCard());
    // Numbers 1-4 and 6-9 fail first: this one lies beyond the eighth failure.
    probes.addDevice("/dev/orvek10", orvekCard());

    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);

    EXPECT_EQ(targetCount(CRVMON_TARGET_ORVEK_PCIE), 2);
    EXPECT_EQ(nodeName(CRVMON_TARGET_ORVEK_PCIE, 0), "/dev/orvek0");
    EXPECT_EQ(nodeName(CRVMON_TARGET_ORVEK_PCIE, 1), "/dev/orvek5");
    EXPECT_THAT(probes.probedPaths, ElementsAreArray(probeOrder(9)));
    // The device beyond the limit was never probed, so it holds nothing.
    EXPECT_EQ(probes.liveMonitors.size(), 2u);
}

TEST_F(DeviceRegistryTest, TheFirstDeviceOfADriverTypeDecidesItsVersion) {
    probes.addDevice("/dev/orvek0", orvekCard({1, 8, 0, 3}));
    probes.addDevice("/dev/orvek1", orvekCard({2, 0, 0, 7}));
    probes.addDevice("/dev/veltara-usb0",
                     veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND0, {2, 1, -1, -1}));
    probes.addDevice("/dev/veltara-usb1",
                     veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND0, {2, 2, 0, 4}));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);

    EXPECT_GIVES("1.8.0", CRVMON_STATUS_OK, corvanta::crvmonGetDriverVersion, CRVMON_DRIVER_ORVEK);
    EXPECT_GIVES(3u, CRVMON_STATUS_OK, corvanta::crvmonGetDriverRevision, CRVMON_DRIVER_ORVEK);
    // The first USB device gave no patch and no revision: its entry still wins, as stored.
    const auto usb = CRVMON_DRIVER_VELTARA_USB;
    EXPECT_GIVES("N/A", CRVMON_STATUS_OK, corvanta::crvmonGetDriverVersion, usb);
    EXPECT_GIVES(0xFFFFFFFFu, CRVMON_STATUS_OK, corvanta::crvmonGetDriverRevision, usb);
    for (auto type : {CRVMON_DRIVER_VELTARA_NPU, static_cast<crvmonDriverType_t>(8),
                      static_cast<crvmonDriverType_t>(-3)}) {
        EXPECT_GIVES("N/A", CRVMON_STATUS_DRIVER_NOT_FOUND, corvanta::crvmonGetDriverVersion, type);
        EXPECT_GIVES(0u, CRVMON_STATUS_DRIVER_NOT_FOUND, corvanta::crvmonGetDriverRevision, type);
    }
}

TEST_F(DeviceRegistryTest, ADeviceWithoutTargetTypeIsCountedButUnreachable) {
    probes.addDevice("/dev/orvek0", orvekCard());
    probes.addDevice("/dev/veltara-usb0", veltaraDevice(CRVMON_TARGET_NONE));
    ASSERT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_OK);

    EXPECT_GIVES(2, CRVMON_STATUS_OK, corvanta::crvmonGetDeviceCount);
    EXPECT_EQ(targetCount(CRVMON_TARGET_NONE), 0);
    EXPECT_GIVES("", CRVMON_STATUS_TARGET_NOT_FOUND, corvanta::crvmonGetNodeName,
                 CRVMON_TARGET_NONE, 0);

    // Its host-service client is still released with the rest.
    EXPECT_EQ(corvanta::crvmonShutdown(), CRVMON_STATUS_OK);
    EXPECT_TRUE(probes.liveClients.empty());
    EXPECT_TRUE(probes.liveMonitors.empty());
    EXPECT_EQ(probes.unknownReleases, 0);
}

TEST_F(DeviceRegistryTest, AnErrorInsideAProbeFailsInitialisationWithoutLeaking) {
    probes.addDevice("/dev/orvek0", orvekCard());
    probes.addFaultyPath("/dev/orvek1");

    EXPECT_EQ(corvanta::crvmonInit(), CRVMON_STATUS_NOT_INITIALIZED);
    EXPECT_TRUE(probes.liveMonitors.empty());
    EXPECT_GIVES(0, CRVMON_STATUS_NOT_INITIALIZED, corvanta::crvmonGetDeviceCount);
}

}  // namespace
}  // namespace crvmon::testing
