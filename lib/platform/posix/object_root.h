// Where the stand-in keeps the objects of the Windows object namespace (pipes, device objects,
// sections): $CRVMON_OBJECT_ROOT when set, else /tmp/crvmon-<uid>. Its only setting, like a
// Wine prefix.
#pragma once

#include <string>
#include <string_view>

namespace crvmon::platform {

std::string objectRoot();

// <root>/<kind> (for example "device"), created with any missing parents, private to the user.
// Throws std::system_error when it cannot be created.
std::string objectDirectory(std::string_view kind);

}  // namespace crvmon::platform
