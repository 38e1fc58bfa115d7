#include "tools/common/interrupt.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

namespace crvmon::tools {

namespace {

// Lock-free, so the handler may set it and any thread read it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    stopRequested.store(true);
}

}  // namespace

void catchInterrupts() {
    // signal fails only for a number that names no signal.
    (void)std::signal(SIGINT, onInterrupt);
    (void)std::signal(SIGTERM, onInterrupt);
}

bool interrupted() {
    return stopRequested.load();
}

void sleepUnlessInterrupted(std::chrono::milliseconds duration) {
    constexpr std::chrono::milliseconds kSlice{50};
    const auto end = std::chrono::steady_clock::now() + duration;
    while (!interrupted()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        std::this_thread::sleep_for(std::min(left, kSlice));
    }
}

}  // namespace crvmon::tools
