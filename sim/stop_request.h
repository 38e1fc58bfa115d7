// How crvmon-sim learns that it should stop: SIGINT or SIGTERM here, Ctrl+C, Ctrl+Break or the
// console closing on Windows.
#pragma once

namespace crvmon::sim {

// Call before any serving thread starts, so that the request reaches waitForStopRequest only.
void prepareForStopRequest();
void waitForStopRequest();

}  // namespace crvmon::sim
