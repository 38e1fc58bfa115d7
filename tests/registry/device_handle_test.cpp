// What a device handle takes from its probe, and what it releases when it goes.
#include <gtest/gtest.h>

#include <utility>

#include "lib/registry/device_handle.h"
#include "tests/support/stand_in_probes.h"

namespace crvmon::testing {
namespace {

TEST(DeviceHandle, DriverTypeFollowsTheTargetFamilyAndThePath) {
    StandInProbes probes;
    probes.addDevice("/dev/orvek0", orvekCard());
    DeviceRecord generic = orvekCard();
    generic.targetType = CRVMON_TARGET_ORVEK;
    probes.addDevice("/dev/orvek1", generic);
    probes.addDevice("/dev/veltara-usb3", veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND1));
    probes.addDevice("/dev/veltara-npu0", veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND0));
    probes.addDevice("/dev/veltara-usb4", veltaraDevice(CRVMON_TARGET_NONE));

    const struct {
        const char* path;
        crvmonDriverType_t driverType;
    } cases[] = {
        {"/dev/orvek0", CRVMON_DRIVER_ORVEK},
        {"/dev/orvek1", CRVMON_DRIVER_ORVEK},
        {"/dev/veltara-usb3", CRVMON_DRIVER_VELTARA_USB},
        // A Veltara target type on a path without "veltara-usb" belongs to the NPU driver.
        {"/dev/veltara-npu0", CRVMON_DRIVER_VELTARA_NPU},
        {"/dev/veltara-usb4", CRVMON_DRIVER_NONE},
    };
    for (const auto& c : cases) {
        DeviceHandle handle(c.path);
        EXPECT_TRUE(handle.open()) << c.path;
        EXPECT_EQ(handle.record().driverType, c.driverType) << c.path;
        EXPECT_EQ(handle.record().nodePath, c.path);
    }
}

TEST(DeviceHandle, APathOfNeitherFamilyRunsNoProbe) {
    StandInProbes probes;
    DeviceHandle handle("/dev/other0");
    EXPECT_FALSE(handle.open());
    EXPECT_TRUE(probes.probedPaths.empty());
    EXPECT_EQ(handle.record().nodePath, "/dev/other0");
    EXPECT_EQ(handle.record().targetType, CRVMON_TARGET_NONE);
    EXPECT_EQ(handle.record().driverType, CRVMON_DRIVER_NONE);
}

TEST(DeviceHandle, TeardownReleasesWhatTheDeviceHoldsExactlyOnce) {
    StandInProbes probes;
    probes.addDevice("/dev/orvek0", orvekCard());
    probes.addDevice("/dev/veltara-usb0", veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND0));
    probes.addDevice("/dev/veltara-usb1", veltaraDevice(CRVMON_TARGET_NONE));
    {
        DeviceHandle card("/dev/orvek0");
        DeviceHandle usb("/dev/veltara-usb0");
        DeviceHandle unknownKind("/dev/veltara-usb1");
        DeviceHandle closed("/dev/orvek7");
        EXPECT_EQ(probes.liveMonitors.size(), 1u);
        EXPECT_EQ(probes.liveClients.size(), 2u);

        // Moving hands the release over: the moved-from handle releases nothing.
        DeviceHandle moved(std::move(card));
        DeviceHandle assigned("/dev/other0");
        assigned = std::move(usb);
    }
    EXPECT_TRUE(probes.liveMonitors.empty());
    EXPECT_TRUE(probes.liveClients.empty());
    EXPECT_EQ(probes.releases, 3);
    EXPECT_EQ(probes.unknownReleases, 0);
}

}  // namespace
}  // namespace crvmon::testing
