// The version texts, with fixed numbers.
#include <gtest/gtest.h>

#include "lib/registry/version_text.h"
#include "tests/support/status_check.h"

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
    EXPECT_GIVES("1.2.4", CRVMON_STATUS_OK, firmwareVersionText, {1, 2, 4, -1});
    EXPECT_GIVES("1.2", CRVMON_STATUS_OK, firmwareVersionText, {1, 2, -1, 7});
    EXPECT_GIVES("1.2", CRVMON_STATUS_OK, firmwareVersionText, {1, 2, -7, 7});
    EXPECT_GIVES("1.2.0", CRVMON_STATUS_OK, firmwareVersionText, {1, 2, 0, 7});
    EXPECT_GIVES("N/A", CRVMON_STATUS_NOT_SUPPORTED, firmwareVersionText, {-1, 2, 4, 0});
    EXPECT_GIVES("N/A", CRVMON_STATUS_NOT_SUPPORTED, firmwareVersionText, {1, -1, 4, 0});
}

TEST(VersionText, OnDeviceDriverVersionNeedsAllThreeNumbers) {
    EXPECT_GIVES("2.1.7", CRVMON_STATUS_OK, onDeviceDriverVersionText, {2, 1, 7, -1});
    EXPECT_GIVES("N/A", CRVMON_STATUS_NOT_SUPPORTED, onDeviceDriverVersionText, {2, 1, -1, 1});
    EXPECT_GIVES("N/A", CRVMON_STATUS_NOT_SUPPORTED, onDeviceDriverVersionText, {});
}

}  // namespace
}  // namespace crvmon
