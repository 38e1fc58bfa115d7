// The open-handle count once the simulator serving in this process has caught up.
#pragma once

#include <chrono>
#include <thread>

#include "tests/support/open_handle_count.h"

// The count once it is back at `expected`, or after 10 s: a simulator serving in this process
// closes its ends of the connections on its own threads, a moment after the library closed its.
inline int openHandleCountSettledAt(int expected) {
    for (int wait = 0; wait < 200 && openHandleCount() != expected; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return openHandleCount();
}
