// From an identity record to the device record: versions, CRC, memory size and slot text.
#include <gtest/gtest.h>

#include "lib/orvek/orvek_discovery.h"

namespace crvmon::orvek {
namespace {

TEST(LocationText, PciAddressOrChainOfSlotNumbers) {
    MonitorInfo info;
    info.locationKind = 0x8000;
    info.location = {0, 3, 0, 0, 9, 9, 9};
    EXPECT_EQ(locationText(info), "0000:03:00.0");
    // Fields wider than their width are printed whole, within the 31 characters.
    info.location = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0};
    EXPECT_EQ(locationText(info), "FFFF:FFFF:FFFF.FFFF");

    info.locationKind = 0x4002;
    info.location = {1, 4, 2, 8, 0, 0, 0};
    EXPECT_EQ(locationText(info), "1-4-2");
    info.locationKind = 0x4000;
    info.location = {7, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(locationText(info), "7");
    // A count of eight stops at the seven items the record holds.
    info.locationKind = 0x4007;
    info.location = {1, 2, 3, 4, 5, 6, 65535};
    EXPECT_EQ(locationText(info), "1-2-3-4-5-6-65535");

    for (std::uint16_t kind : {0x0000, 0xC000, 0x3FFF}) {
        info.locationKind = kind;
        EXPECT_EQ(locationText(info), "") << kind;
    }
}

TEST(DescribeCard, FirmwareMemoryAndIdsComeFromTheIdentityWords) {
    MonitorInfo info;
    info.deviceId = 0xFFFF;  // all 16 bits set is still a value, not the absent pattern
    info.subVendorId = (1 << 10) | 2;
    info.subDeviceId = 0x0A07;  // revision 10, memory code 7
    info.firmwareBuild = 0x80030000;
    info.driverVersion = {1, 8, 0, 3};

    const DeviceRecord r = describeCard(info);
    EXPECT_TRUE(r.open);
    EXPECT_EQ(r.targetType, CRVMON_TARGET_ORVEK_PCIE);
    EXPECT_EQ(r.firmwareVersion.major, 1);
    EXPECT_EQ(r.firmwareVersion.minor, 2);
    EXPECT_EQ(r.firmwareVersion.patch, 3);
    EXPECT_EQ(r.firmwareVersion.revision, 10);
    EXPECT_EQ(r.firmwareCrc, 0x8003);
    EXPECT_EQ(r.memoryTotal, 274877906944LL);
    EXPECT_EQ(r.driverVersion.revision, 3);
    EXPECT_EQ(r.onDeviceDriverVersion.major, -1);
    EXPECT_EQ(r.deviceId, 0xFFFF);

    // Without the patch bit there is neither a patch number nor a CRC.
    info.firmwareBuild = 0x00030000;
    info.subDeviceId = 0x0000;
    const DeviceRecord bare = describeCard(info);
    EXPECT_EQ(bare.firmwareVersion.patch, -1);
    EXPECT_EQ(bare.firmwareCrc, -1);
    EXPECT_EQ(bare.firmwareVersion.revision, 0);
    EXPECT_EQ(bare.memoryTotal, 2147483648LL);
}

}  // namespace
}  // namespace crvmon::orvek
