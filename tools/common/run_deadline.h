// A bound on how long one step of a tool may take. The library can wait minutes on a host
// service whose pipe instances stay busy, and its calls cannot be cancelled: when a step
// overruns, the process ends with a message and the given exit code instead of hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace crvmon::tools {

class RunDeadline {
  public:
    // A limit of zero never expires.
    RunDeadline(std::string program, std::chrono::milliseconds limit, int exitCode);
    ~RunDeadline();
    RunDeadline(const RunDeadline&) = delete;
    RunDeadline& operator=(const RunDeadline&) = delete;

    // Starts the clock for a step ("initialisation", "reading the devices").
    void arm(std::string step);
    void disarm();

    // Runs on the watching thread just before an overrun ends the process: for a view to give
    // the terminal back. Returns the cleanup it replaces, which the new one should also run and
    // which should be put back before what the new one refers to goes away.
    std::function<void()> setCleanup(std::function<void()> cleanup);

  private:
    void watch();

    std::string program_;
    std::chrono::milliseconds limit_;
    int exitCode_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string step_;
    std::function<void()> cleanup_;
    std::chrono::steady_clock::time_point expiry_{};
    bool armed_ = false;
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace crvmon::tools
