// Target types from the driver information's flags, and the core codes of utilisation records.
#include <gtest/gtest.h>

#include "monitor/core_id.h"
#include "veltara/veltara_probe.h"

namespace crvmon {
namespace {

TEST(VeltaraProbeRules, TheKindInTheFlagsGivesTheTargetType) {
    EXPECT_EQ(veltara::targetTypeFromFlags(0x0), CRVMON_TARGET_VELTARA_USB_KIND0);
    EXPECT_EQ(veltara::targetTypeFromFlags(0x2), CRVMON_TARGET_VELTARA_USB_KIND0);  // no kind
    EXPECT_EQ(veltara::targetTypeFromFlags(0x1), CRVMON_TARGET_VELTARA_USB_KIND0);
    EXPECT_EQ(veltara::targetTypeFromFlags(0x3), CRVMON_TARGET_VELTARA_USB_KIND1);
    EXPECT_EQ(veltara::targetTypeFromFlags(0x5), CRVMON_TARGET_NONE);
    EXPECT_EQ(veltara::targetTypeFromFlags(0x1F), CRVMON_TARGET_NONE);
    EXPECT_EQ(veltara::targetTypeFromFlags(0xFFFFFFE3), CRVMON_TARGET_VELTARA_USB_KIND1);
}

TEST(CoreId, ClustersAndPositions) {
    EXPECT_EQ(makeCoreId(0, 0).cluster, 0x10000u);
    EXPECT_EQ(makeCoreId(0, 0).core, 0xFFFEu);
    EXPECT_EQ(makeCoreId(1, 4).cluster, 0x20000u);
    EXPECT_EQ(makeCoreId(1, 4).core, 4u);
    EXPECT_EQ(makeCoreId(2, 1).cluster, 0x7FFF0000u);
    EXPECT_EQ(makeCoreId(-1, 5).core, 0xFFFFu);
    EXPECT_EQ(makeCoreId(0, -1).core, 0xFFFFu);
}

}  // namespace
}  // namespace crvmon
