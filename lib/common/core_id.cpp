#include "lib/common/core_id.h"

namespace crvmon {

CoreId makeCoreId(int cluster, int position) {
    CoreId id{};
    id.cluster = cluster == 0 ? kFirstCluster : cluster == 1 ? kSecondCluster : kNoSuchCluster;
    if (position == 0) {
        id.core = kWholeCluster;
    } else if (position >= 1 && position <= 4) {
        id.core = static_cast<std::uint32_t>(position);
    } else {
        id.core = kNoSuchCore;
    }
    return id;
}

}  // namespace crvmon
