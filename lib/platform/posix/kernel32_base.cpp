#include "lib/platform/posix/kernel32.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

BOOL DisableThreadLibraryCalls(HMODULE) {
    return TRUE;
}
