#include "lib/platform/posix/process_id.h"

#include <unistd.h>

int _getpid() {
    return static_cast<int>(getpid());
}
