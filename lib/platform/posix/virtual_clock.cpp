#include "platform/posix/virtual_clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace crvmon::platform {

namespace {

struct ClockState {
    std::atomic<bool> isVirtual{false};
    std::mutex mutex;
    std::uint64_t elapsed = 0;
    std::vector<DWORD> sleeps;
    std::vector<PipeOpenRecord> opens;
    std::vector<PipeWaitRecord> waits;
};

// Never destroyed: threads may still sleep while the process exits.
ClockState& state() {
    static auto* clock = new ClockState;
    return *clock;
}

}  // namespace

VirtualClock::VirtualClock() {
    ClockState& clock = state();
    std::lock_guard lock(clock.mutex);
    if (clock.isVirtual.load()) throw std::logic_error("a virtual clock is already running");
    clock.elapsed = 0;
    clock.sleeps.clear();
    clock.opens.clear();
    clock.waits.clear();
    clock.isVirtual.store(true);
}

VirtualClock::~VirtualClock() {
    std::lock_guard lock(state().mutex);
    state().isVirtual.store(false);
}

std::uint64_t VirtualClock::elapsedMs() const {
    std::lock_guard lock(state().mutex);
    return state().elapsed;
}

std::vector<DWORD> VirtualClock::sleeps() const {
    std::lock_guard lock(state().mutex);
    return state().sleeps;
}

std::vector<PipeOpenRecord> VirtualClock::pipeOpens() const {
    std::lock_guard lock(state().mutex);
    return state().opens;
}

std::vector<PipeWaitRecord> VirtualClock::pipeWaits() const {
    std::lock_guard lock(state().mutex);
    return state().waits;
}

namespace stand_in_clock {

bool isVirtual() {
    return state().isVirtual.load();
}

void advance(std::uint64_t milliseconds) {
    std::lock_guard lock(state().mutex);
    if (state().isVirtual.load()) state().elapsed += milliseconds;
}

void recordPipeOpen(std::wstring_view name, DWORD error) {
    std::lock_guard lock(state().mutex);
    if (state().isVirtual.load()) state().opens.push_back({std::wstring(name), error});
}

void recordPipeWait(std::wstring_view name, DWORD timeout, DWORD error) {
    std::lock_guard lock(state().mutex);
    if (state().isVirtual.load()) state().waits.push_back({std::wstring(name), timeout, error});
}

}  // namespace stand_in_clock

}  // namespace crvmon::platform

void Sleep(DWORD milliseconds) {
    crvmon::platform::ClockState& clock = crvmon::platform::state();
    {
        std::lock_guard lock(clock.mutex);
        if (clock.isVirtual.load()) {
            clock.elapsed += milliseconds;
            clock.sleeps.push_back(milliseconds);
            return;
        }
    }
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
