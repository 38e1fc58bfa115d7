#include "sim/veltara/io_interrupt.h"

namespace crvmon::sim {

IoInterrupt::~IoInterrupt() {
    if (HANDLE thread = thread_.load()) CloseHandle(thread);
}

void IoInterrupt::attachCurrentThread() {
    HANDLE thread = nullptr;
    // A real handle: GetCurrentThread() only names the calling thread.
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                        FALSE, DUPLICATE_SAME_ACCESS)) {
        thread_.store(thread);
    }
}

bool IoInterrupt::interrupt(HANDLE) {
    if (HANDLE thread = thread_.load()) CancelSynchronousIo(thread);
    return false;
}

}  // namespace crvmon::sim
