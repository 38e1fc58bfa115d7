// Windows error codes for the errno values that the stand-in's system calls report.
#pragma once

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform {

DWORD windowsError(int errnoValue);

}  // namespace crvmon::platform
