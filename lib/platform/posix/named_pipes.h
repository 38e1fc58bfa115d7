// The client side of named pipes, for CreateFileA and CreateFileW alike.
#pragma once

#include <string_view>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform {

// Opens one instance of the pipe "\\.\pipe\NAME" given in full: a handle, or
// INVALID_HANDLE_VALUE with the last-error code set. The attempt is recorded under
// recordedName by a virtual clock.
HANDLE openPipeClient(std::u16string_view fullName, std::wstring_view recordedName);

}  // namespace crvmon::platform
