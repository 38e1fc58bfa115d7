// Windows error codes for the errno values that the stand-in's system calls report.
#pragma once

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform {

DWORD windowsError(int errnoValue);

// The result of a call that returns BOOL: TRUE for ERROR_SUCCESS, else FALSE with the error as
// the thread's last-error code.
inline BOOL finish(DWORD error) {
    if (error == ERROR_SUCCESS) return TRUE;
    SetLastError(error);
    return FALSE;
}

}  // namespace crvmon::platform
