#include "tools/smi/byte_size_text.h"

#include <cmath>
#include <cstdio>

namespace crvmon::smi {

std::string byteSizeText(long long bytes) {
    constexpr double kKiB = 1024.0;
    const double value = static_cast<double>(bytes);
    const auto scaled = [value](double unit, const char* name) {
        char text[48];
        std::snprintf(text, sizeof text, "%.1f %s", value / unit, name);
        return std::string(text);
    };
    if (std::fabs(value) >= kKiB * kKiB * kKiB) return scaled(kKiB * kKiB * kKiB, "GiB");
    if (std::fabs(value) >= kKiB * kKiB) return scaled(kKiB * kKiB, "MiB");
    if (std::fabs(value) >= kKiB) return scaled(kKiB, "KiB");
    return std::to_string(bytes) + " B";
}

}  // namespace crvmon::smi
