#include "sim/veltara/io_interrupt.h"

namespace crvmon::sim {

IoInterrupt::~IoInterrupt() = default;

void IoInterrupt::attachCurrentThread() {}

bool IoInterrupt::interrupt(HANDLE pipe) {
    CloseHandle(pipe);
    return true;
}

}  // namespace crvmon::sim
