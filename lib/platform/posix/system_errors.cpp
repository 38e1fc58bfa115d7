#include "lib/platform/posix/system_errors.h"

#include <cerrno>

namespace crvmon::platform {

DWORD windowsError(int errnoValue) {
    switch (errnoValue) {
        case 0: return ERROR_SUCCESS;
        case ENOENT:
        case ECONNREFUSED:  // a socket file that nobody listens on any more
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case EACCES:
        case EPERM: return ERROR_ACCESS_DENIED;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM:
        case ENOBUFS: return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
        case EMSGSIZE: return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EPIPE:
        case ECONNRESET:
        case ENOTCONN: return ERROR_BROKEN_PIPE;
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace crvmon::platform
