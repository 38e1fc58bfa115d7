// The Orvek per-core list: how cluster and core fractions become busy times.
#include <gtest/gtest.h>

#include "lib/telemetry/metric_accessors.h"

namespace crvmon {
namespace {

TEST(OrvekCoreInfos, TheClusterFractionCountsTowardEveryCoreAndTimesTruncate) {
    const auto infos = accessors::orvekCoreInfos({0.25, 0, 0, 0.1234567, 0.5, 0.8, 0, 0, 0, 0.5});
    ASSERT_EQ(infos.size(), 10u);
    EXPECT_EQ(infos[0].busyTime, 500'000);    // cluster 0 whole
    EXPECT_EQ(infos[1].busyTime, 750'000);    // core 1: own 0.25 + cluster 0.5
    EXPECT_EQ(infos[4].busyTime, 623'456);    // truncated, not rounded
    EXPECT_GT(infos[6].busyTime, 1'299'999);  // own 0.8 + cluster 0.5: above 1 stays above 1
    EXPECT_EQ(infos[9].core, 4u);
    for (const auto& info : infos) EXPECT_EQ(info.totalTime, 1'000'000);
}

}  // namespace
}  // namespace crvmon
