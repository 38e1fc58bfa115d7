#include "tools/common/interrupt.h"

#include <algorithm>
#include <csignal>
#include <thread>

namespace crvmon::tools {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onInterrupt(int) {
    stopRequested = 1;
}

}  // namespace

void catchInterrupts() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() {
    return stopRequested != 0;
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
