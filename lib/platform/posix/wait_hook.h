// Where test instrumentation may take over the stand-in's waiting. With a hook installed, Sleep,
// the time-outs of WaitNamedPipeW and waits that could never end cost no real time: the hook
// is told of them instead, and of every pipe open and wait. Nothing in the library installs one.
#pragma once

#include <string_view>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform {

class WaitHook {
  public:
    virtual ~WaitHook() = default;
    // Sleep, in place of sleeping.
    virtual void slept(DWORD milliseconds) = 0;
    // WaitNamedPipeW found every instance busy: in place of waiting this long for one (the
    // server's default when asked for), after which the call fails with ERROR_SEM_TIMEOUT.
    virtual void waitTimedOut(DWORD milliseconds) = 0;
    // Every attempt to open an instance of a pipe (CreateFileW, CreateFileA with each byte
    // widened), and every WaitNamedPipeW, with its error (ERROR_SUCCESS when it worked).
    virtual void pipeOpened(std::wstring_view name, DWORD error) = 0;
    virtual void pipeWaited(std::wstring_view name, DWORD timeout, DWORD error) = 0;
    // GetOverlappedResult was asked to wait for a request that is not in flight (the device
    // failed it at once, or it was never made): its event will never be signalled, and on
    // Windows the wait would never end. In place of that wait the call fails at once with
    // ERROR_IO_INCOMPLETE.
    virtual void endlessWait() = 0;
};

// Null puts real time back. The hook must outlive every call that may still reach it, on any
// thread. A wait with no end (NMPWAIT_WAIT_FOREVER) still waits for real.
void installWaitHook(WaitHook* hook);
WaitHook* installedWaitHook();

}  // namespace crvmon::platform
