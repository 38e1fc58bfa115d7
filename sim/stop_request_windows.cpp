#include <windows.h>

#include "sim/stop_request.h"

namespace crvmon::sim {
namespace {

HANDLE stopEvent = nullptr;

// Runs on a thread of its own; returning TRUE keeps the process alive until the simulator has
// unloaded its driver (closing the console allows a few seconds for it).
BOOL WINAPI onConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: SetEvent(stopEvent); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

void prepareForStopRequest() {
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void waitForStopRequest() {
    WaitForSingleObject(stopEvent, INFINITE);
}

}  // namespace crvmon::sim
