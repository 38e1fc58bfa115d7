#include <signal.h>

#include "sim/stop_request.h"

namespace crvmon::sim {
namespace {

sigset_t stopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    return stop;
}

}  // namespace

// Blocked in every thread, so the signals wait for sigwait instead of ending the process.
void prepareForStopRequest() {
    const sigset_t stop = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

void waitForStopRequest() {
    const sigset_t stop = stopSignals();
    int signal = 0;
    sigwait(&stop, &signal);
}

}  // namespace crvmon::sim
