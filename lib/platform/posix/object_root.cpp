#include "lib/platform/posix/object_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace crvmon::platform {

std::string objectRoot() {
    if (const char* root = std::getenv("CRVMON_OBJECT_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    return "/tmp/crvmon-" + std::to_string(static_cast<unsigned long>(getuid()));
}

std::string objectDirectory(std::string_view kind) {
    std::string directory = objectRoot() + "/" + std::string(kind);
    for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
        std::string part = directory.substr(0, end);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::system_error(errno, std::generic_category(), "cannot create " + part);
        }
        if (end == std::string::npos) break;
    }
    return directory;
}

}  // namespace crvmon::platform
