#include "tools/common/run_deadline.h"

#include <cstdio>
#include <cstdlib>

namespace crvmon::tools {

RunDeadline::RunDeadline(std::string program, std::chrono::milliseconds limit, int exitCode)
    : program_(std::move(program)), limit_(limit), exitCode_(exitCode) {
    if (limit_.count() > 0) watcher_ = std::thread([this] { watch(); });
}

RunDeadline::~RunDeadline() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

void RunDeadline::arm(std::string step) {
    {
        const std::lock_guard lock(mutex_);
        step_ = std::move(step);
        expiry_ = std::chrono::steady_clock::now() + limit_;
        armed_ = true;
    }
    changed_.notify_all();
}

void RunDeadline::disarm() {
    {
        const std::lock_guard lock(mutex_);
        armed_ = false;
    }
    changed_.notify_all();
}

std::function<void()> RunDeadline::setCleanup(std::function<void()> cleanup) {
    const std::lock_guard lock(mutex_);
    std::swap(cleanup_, cleanup);
    return cleanup;
}

void RunDeadline::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!armed_) {
            changed_.wait(lock);
            continue;
        }
        // The wait lets other threads disarm the deadline.
        // cppcheck-suppress knownConditionTrueFalse
        if (changed_.wait_until(lock, expiry_) == std::cv_status::timeout && armed_ &&
            std::chrono::steady_clock::now() >= expiry_) {
            if (cleanup_) cleanup_();
            const double seconds = static_cast<double>(limit_.count()) / 1000.0;
            std::fprintf(stderr,
                         "%s: %s did not finish within %g s (--timeout); a device or the host "
                         "service is not answering\n",
                         program_.c_str(), step_.c_str(), seconds);
            std::fflush(stderr);
            // A library call cannot be interrupted: end the process without waiting for it.
            std::_Exit(exitCode_);
        }
    }
}

}  // namespace crvmon::tools
