#include "lib/common/trailing_number.h"

#include <limits>
#include <stdexcept>

namespace crvmon {

std::int32_t trailingNumber(const std::string& path) {
    const std::size_t last = path.find_last_not_of("0123456789");
    const std::string digits = last == std::string::npos ? path : path.substr(last + 1);
    if (digits.empty()) throw std::invalid_argument("invalid stoi argument");
    long long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) {
            throw std::out_of_range("stoi argument out of range");
        }
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace crvmon
