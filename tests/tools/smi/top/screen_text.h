// What a terminal would show of crvmon-smi top's output: its lines with the control sequences
// taken out, so that tests can look for values and measure widths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace crvmon::smi::top_test {

// Drops CSI sequences (ESC '[' parameters final-byte) and carriage returns.
inline std::string visibleText(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
            i += 2;
            while (i < raw.size() && !(raw[i] >= 0x40 && raw[i] <= 0x7e)) ++i;
            continue;
        }
        if (raw[i] != '\r') out += raw[i];
    }
    return out;
}

inline std::vector<std::string> splitLines(std::string_view text, std::string_view separator) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        lines.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return lines;
        start = end + separator.size();
    }
}

}  // namespace crvmon::smi::top_test
