#include "lib/platform/posix/wait_hook.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace crvmon::platform {

namespace {
std::atomic<WaitHook*> hook{nullptr};
}

void installWaitHook(WaitHook* waitHook) {
    hook.store(waitHook);
}

WaitHook* installedWaitHook() {
    return hook.load();
}

}  // namespace crvmon::platform

void Sleep(DWORD milliseconds) {
    if (crvmon::platform::WaitHook* hook = crvmon::platform::installedWaitHook()) {
        hook->slept(milliseconds);
        return;
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
