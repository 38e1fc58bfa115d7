#include "monitor/core_id.h"

namespace crvmon {

CoreId makeCoreId(int cluster, int position) {
    CoreId id{};
    id.cluster = cluster == 0 ? 0x10000u : cluster == 1 ? 0x20000u : 0x7FFF0000u;
    if (position == 0) {
        id.core = 0xFFFEu;
    } else if (position >= 1 && position <= 4) {
        id.core = static_cast<std::uint32_t>(position);
    } else {
        id.core = 0xFFFFu;
    }
    return id;
}

}  // namespace crvmon
