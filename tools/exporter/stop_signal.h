// The exporter's one way to end: Ctrl-C, SIGTERM or a service stop request all ask it, and
// whoever serves waits on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace crvmon::exporter {

class StopSignal {
  public:
    void requestStop();
    bool stopRequested() const;
    // True once a stop is requested, false when `wait` passed first.
    bool waitFor(std::chrono::milliseconds wait);

  private:
    mutable std::mutex mutex_;
    std::condition_variable requested_;
    bool stop_ = false;
};

}  // namespace crvmon::exporter
