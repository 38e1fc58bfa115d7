#pragma once

#include <cstdint>

namespace crvmon {

// A version as four separate numbers; -1 (all bits set) marks a number the device did not give.
struct VersionInfo {
    std::int32_t major = -1;
    std::int32_t minor = -1;
    std::int32_t patch = -1;
    std::int32_t revision = -1;
};

constexpr std::int32_t kAbsent32 = -1;
constexpr std::int64_t kAbsent64 = -1;

}  // namespace crvmon
