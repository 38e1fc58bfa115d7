// The device number a node path ends in, which both families' probes address devices by.
#pragma once

#include <cstdint>
#include <string>

namespace crvmon {

// The number at the end of a node path ("/dev/orvek12" gives 12). Throws
// std::invalid_argument when there is none and std::out_of_range beyond 32 bits.
std::int32_t trailingNumber(const std::string& path);

}  // namespace crvmon
