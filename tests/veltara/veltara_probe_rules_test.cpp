// Target types from the driver information's flags.
#include <gtest/gtest.h>

#include "lib/veltara/veltara_probe.h"

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

}  // namespace
}  // namespace crvmon
