#include "tools/exporter/stop_signal.h"

namespace crvmon::exporter {

void StopSignal::requestStop() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    requested_.notify_all();
}

bool StopSignal::stopRequested() const {
    const std::lock_guard lock(mutex_);
    return stop_;
}

bool StopSignal::waitFor(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return requested_.wait_for(lock, wait, [this] { return stop_; });
}

}  // namespace crvmon::exporter
