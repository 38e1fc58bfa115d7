#include <fstream>
#include <string>

#include "tools/common/process_names.h"

namespace crvmon::tools {

std::optional<std::string> systemProcessName(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name) || name.empty()) return std::nullopt;
    // The kernel keeps any bytes and cuts at 15, perhaps inside a character: what is not
    // printable ASCII would break the JSON and the labels the name goes into.
    for (char& c : name) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return name;
}

}  // namespace crvmon::tools
