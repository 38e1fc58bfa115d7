// Wakes a serving thread that is blocked in a pipe call (ConnectNamedPipe, ReadFile, WriteFile,
// FlushFileBuffers) on its own instance, so that it sees that the service stops.
//
// Windows: the thread's synchronous I/O is cancelled with CancelSynchronousIo. Closing the
// handle instead would not do: the close waits for the synchronous call it should end. A
// cancel that comes before the thread blocks is lost, so the caller repeats it until the thread
// has ended.
// Stand-in: closing the handle ends a call blocked on it (ERROR_OPERATION_ABORTED), and every
// later call on it fails; handle values are never reused, so a late call cannot reach another
// object.
#pragma once

#include <atomic>

#include "lib/platform/win32.h"

namespace crvmon::sim {

class IoInterrupt {
  public:
    IoInterrupt() = default;
    // Windows closes the thread's handle; only the stand-in's is empty.
    ~IoInterrupt();  // NOLINT(performance-trivially-destructible)
    IoInterrupt(const IoInterrupt&) = delete;
    IoInterrupt& operator=(const IoInterrupt&) = delete;

    // On the serving thread, before its first pipe call.
    void attachCurrentThread();

    // From another thread, as often as needed until the serving thread has ended. True when it
    // has closed `pipe`: the caller must then not close it again, nor interrupt again.
    bool interrupt(HANDLE pipe);

  private:
    std::atomic<HANDLE> thread_{nullptr};
};

}  // namespace crvmon::sim
