#include "lib/common/core_id.h"

namespace crvmon {

CoreId makeCoreId(int cluster, int position) {
    CoreId id{};
    id.cluster = cluster == 0   ? CRVMON_CLUSTER_FIRST
                 : cluster == 1 ? CRVMON_CLUSTER_SECOND
                                : CRVMON_CLUSTER_NONE;
    if (position == 0) {
        id.core = CRVMON_CORE_WHOLE_CLUSTER;
    } else if (position >= 1 && position <= 4) {
        id.core = static_cast<std::uint32_t>(position);
    } else {
        id.core = CRVMON_CORE_NONE;
    }
    return id;
}

}  // namespace crvmon
