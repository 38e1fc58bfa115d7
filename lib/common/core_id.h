// The (cluster, core) codes of a utilisation record.
#pragma once

#include <cstdint>

namespace crvmon {

inline constexpr std::uint32_t kFirstCluster = 0x10000u;
inline constexpr std::uint32_t kSecondCluster = 0x20000u;
inline constexpr std::uint32_t kNoSuchCluster = 0x7FFF0000u;
inline constexpr std::uint32_t kWholeCluster = 0xFFFEu;  // the cluster's own entry, not a core
inline constexpr std::uint32_t kNoSuchCore = 0xFFFFu;

struct CoreId {
    std::uint32_t cluster;  // kFirstCluster, kSecondCluster or kNoSuchCluster
    std::uint32_t core;     // 1-4, kWholeCluster, or kNoSuchCore
};

// Cluster 0 or 1; position 0 the whole cluster, 1-4 its cores.
CoreId makeCoreId(int cluster, int position);

}  // namespace crvmon
