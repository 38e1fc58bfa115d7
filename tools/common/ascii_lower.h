// Lower case for the tools' names and ids, which are ASCII: independent of the C locale.
#pragma once

#include <string>
#include <string_view>

namespace crvmon::tools {

inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace crvmon::tools
