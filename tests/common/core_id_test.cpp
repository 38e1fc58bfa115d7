// The (cluster, core) codes of utilisation records.
#include <gtest/gtest.h>

#include "lib/common/core_id.h"

namespace crvmon {
namespace {

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
