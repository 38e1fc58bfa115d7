// Virtual time for tests of retry policies: inside a VirtualClock scope, waiting costs nothing
// and every wait is counted, so a policy that would wait minutes runs in milliseconds and a test
// sees exactly what it did. Runs on the stand-in's wait hook.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/platform/win32.h"

namespace crvmon::testing {

struct PipeOpenRecord {
    std::wstring name;  // as passed (a CreateFileA name with each byte widened)
    DWORD error;        // ERROR_SUCCESS when an instance was opened
};

struct PipeWaitRecord {
    std::wstring name;
    DWORD timeout;  // as passed
    DWORD error;    // ERROR_SUCCESS when the call returned TRUE
};

// For its lifetime the whole process runs on virtual time, starting at 0:
// - Sleep advances it by its duration and returns at once.
// - WaitNamedPipeW returns TRUE at once when an instance is free; otherwise it advances the
//   time by its time-out (the server's default for NMPWAIT_USE_DEFAULT_WAIT) and fails at once
//   with ERROR_SEM_TIMEOUT. NMPWAIT_WAIT_FOREVER still waits for real.
// - Every Sleep, every attempt to open a pipe name (CreateFileW, CreateFileA) and every
//   WaitNamedPipeW is recorded, from any thread, in call order.
// - A GetOverlappedResult that would wait for ever (for a request that failed at once) fails
//   at once with ERROR_IO_INCOMPLETE, and is counted.
// One scope at a time (a second one throws std::logic_error). Since the switch is
// process-wide, tests that use it must not run beside other tests in the same process.
class VirtualClock {
  public:
    VirtualClock();
    ~VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    std::uint64_t elapsedMs() const;
    std::vector<DWORD> sleeps() const;
    std::vector<PipeOpenRecord> pipeOpens() const;
    std::vector<PipeWaitRecord> pipeWaits() const;
    int endlessWaits() const;
};

}  // namespace crvmon::testing
