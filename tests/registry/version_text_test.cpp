// The version texts, with fixed numbers.
#include <gtest/gtest.h>

#include "lib/registry/version_text.h"

namespace crvmon {
namespace {

TEST(VersionText, DriverVersionNeedsMajorMinorAndPatchAndLeavesTheRevisionOut) {
    EXPECT_EQ(driverVersionText({1, 8, 0, 3}), "1.8.0");
    EXPECT_EQ(driverVersionText({0, 0, 0, -1}), "0.0.0");
    EXPECT_EQ(driverVersionText({-1, 8, 0, 3}), "N/A");
    EXPECT_EQ(driverVersionText({1, -1, 0, 3}), "N/A");
    EXPECT_EQ(driverVersionText({1, 8, -1, 3}), "N/A");
    // Only all bits set is absent; other numbers print as signed decimals.
    EXPECT_EQ(driverVersionText({2147483647, -2, 10, 0}), "2147483647.-2.10");
}

TEST(VersionText, FirmwarePatchIsShownOnlyWhenNotNegative) {
    crvmonStatusCode_t status = CRVMON_STATUS_TARGET_NOT_FOUND;
    EXPECT_EQ(firmwareVersionText({1, 2, 4, -1}, status), "1.2.4");
    EXPECT_EQ(status, CRVMON_STATUS_OK);
    EXPECT_EQ(firmwareVersionText({1, 2, -1, 7}, status), "1.2");
    EXPECT_EQ(firmwareVersionText({1, 2, -7, 7}, status), "1.2");
    EXPECT_EQ(firmwareVersionText({1, 2, 0, 7}, status), "1.2.0");
    EXPECT_EQ(status, CRVMON_STATUS_OK);

    EXPECT_EQ(firmwareVersionText({-1, 2, 4, 0}, status), "N/A");
    EXPECT_EQ(status, CRVMON_STATUS_NOT_SUPPORTED);
    status = CRVMON_STATUS_OK;
    EXPECT_EQ(firmwareVersionText({1, -1, 4, 0}, status), "N/A");
    EXPECT_EQ(status, CRVMON_STATUS_NOT_SUPPORTED);
}

TEST(VersionText, OnDeviceDriverVersionNeedsAllThreeNumbers) {
    crvmonStatusCode_t status = CRVMON_STATUS_NOT_SUPPORTED;
    EXPECT_EQ(onDeviceDriverVersionText({2, 1, 7, -1}, status), "2.1.7");
    EXPECT_EQ(status, CRVMON_STATUS_OK);
    EXPECT_EQ(onDeviceDriverVersionText({2, 1, -1, 1}, status), "N/A");
    EXPECT_EQ(status, CRVMON_STATUS_NOT_SUPPORTED);
    status = CRVMON_STATUS_OK;
    EXPECT_EQ(onDeviceDriverVersionText({}, status), "N/A");
    EXPECT_EQ(status, CRVMON_STATUS_NOT_SUPPORTED);
}

}  // namespace
}  // namespace crvmon
