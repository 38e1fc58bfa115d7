// The (cluster, core) codes of a utilisation record.
#pragma once

#include <cstdint>

#include "crvmon.h"

namespace crvmon {

struct CoreId {
    std::uint32_t cluster;  // CRVMON_CLUSTER_FIRST, CRVMON_CLUSTER_SECOND or CRVMON_CLUSTER_NONE
    std::uint32_t core;     // 1-4, CRVMON_CORE_WHOLE_CLUSTER or CRVMON_CORE_NONE
};

// Cluster 0 or 1; position 0 the whole cluster, 1-4 its cores.
CoreId makeCoreId(int cluster, int position);

}  // namespace crvmon
