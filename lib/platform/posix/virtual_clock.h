// The stand-in's clock. Sleep and the time-outs of WaitNamedPipeW run on real time, except
// inside a VirtualClock scope, where waiting costs nothing and every wait is counted: a retry
// policy that would wait minutes runs in milliseconds, and a test sees exactly what it did.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/kernel32.h"

namespace crvmon::platform {

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
};

// The stand-in's side of the clock.
namespace stand_in_clock {

bool isVirtual();
// Moves virtual time on; nothing outside a scope.
void advance(std::uint64_t milliseconds);
// Kept only inside a scope.
void recordPipeOpen(std::wstring_view name, DWORD error);
void recordPipeWait(std::wstring_view name, DWORD timeout, DWORD error);

}  // namespace stand_in_clock

}  // namespace crvmon::platform
