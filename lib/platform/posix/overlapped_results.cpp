// Reading the outcome of a request from its OVERLAPPED record.
#include <atomic>

#include "lib/platform/posix/events.h"
#include "lib/platform/posix/wait_hook.h"

using crvmon::platform::overlappedEvent;

BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait) {
    if (overlapped == nullptr || bytesTransferred == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::atomic_ref status(overlapped->Internal);
    if (status.load(std::memory_order_acquire) == STATUS_PENDING) {
        // Without an event Windows would wait on the file handle; here no request is ever in
        // flight after its call returns, so that wait could never end.
        if (wait == FALSE || overlapped->hEvent == nullptr) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        auto event = overlappedEvent(overlapped->hEvent);
        if (!event) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // Requests complete before their call returns: one still pending failed at once, and
        // only another thread setting the event could end this wait.
        if (crvmon::platform::WaitHook* hook = crvmon::platform::installedWaitHook()) {
            hook->endlessWait();
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        event->wait(INFINITE);
        if (status.load(std::memory_order_acquire) == STATUS_PENDING) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
    }
    *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (status.load(std::memory_order_acquire) != 0) {
        // The stand-in completes requests only with success; any other status is a failure.
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return TRUE;
}
