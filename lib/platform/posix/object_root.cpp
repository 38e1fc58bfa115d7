#include "platform/posix/object_root.h"

#include <unistd.h>

#include <cstdlib>

namespace crvmon::platform {

std::string objectRoot() {
    if (const char* root = std::getenv("CRVMON_OBJECT_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    return "/tmp/crvmon-" + std::to_string(static_cast<unsigned long>(getuid()));
}

}  // namespace crvmon::platform
