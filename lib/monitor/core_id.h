// The (cluster, core) codes of a utilisation record.
#pragma once

#include <cstdint>

namespace crvmon {

struct CoreId {
    std::uint32_t cluster;  // 0x10000, 0x20000, or 0x7FFF0000 for no such cluster
    std::uint32_t core;     // 1-4, 0xFFFE for the whole cluster, 0xFFFF for no such core
};

CoreId makeCoreId(int cluster, int position);

}  // namespace crvmon
