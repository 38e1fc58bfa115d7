// Ctrl-C (and a termination request) as a flag the live views poll, so that they end between
// two reads and the library is shut down, instead of the process dying inside a call.
#pragma once

#include <chrono>

namespace crvmon::tools {

void catchInterrupts();
bool interrupted();

// Sleeps `duration`, or less once interrupted.
void sleepUnlessInterrupted(std::chrono::milliseconds duration);

}  // namespace crvmon::tools
