// Where the stand-in keeps the objects of the Windows object namespace (pipes, device objects,
// sections): $CRVMON_OBJECT_ROOT when set, else /tmp/crvmon-<uid>. Its only setting, like a
// Wine prefix.
#pragma once

#include <string>

namespace crvmon::platform {

std::string objectRoot();

}  // namespace crvmon::platform
