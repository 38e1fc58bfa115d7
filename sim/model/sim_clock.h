// The simulated driver's notion of "now", in microseconds: the time unit of the activity rings
// and of the usage reply's timestamp. Tests drive a manual clock so that every sample is
// reproducible; the simulator runs on the steady clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace crvmon::sim {

class SimClock {
  public:
    virtual ~SimClock() = default;
    // Microseconds; never goes backwards.
    virtual std::uint64_t nowMicroseconds() const = 0;

    // Calls onMove after each move the clock is told to make, until unsubscribed, for holders
    // of a copy of what the clock drives (the kernel-mode driver's usage bytes). A clock that
    // moves by itself never calls: its holders refresh on their own time. Returns the token for
    // unsubscribe.
    // By value: a clock that keeps the callback moves it in.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    virtual std::uint64_t subscribe(std::function<void()> onMove) const {
        (void)onMove;
        return 0;
    }
    // Once this returns, onMove is not running and is never called again.
    virtual void unsubscribe(std::uint64_t token) const { (void)token; }
};

// Monotonic time since the steady clock's epoch (boot on the usual platforms).
class SteadySimClock final : public SimClock {
  public:
    std::uint64_t nowMicroseconds() const override {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(since).count());
    }
};

// Time that moves only when told to. Starts at one second by default, so that the activity
// rings already hold a full history at the first sample.
class ManualSimClock final : public SimClock {
  public:
    static constexpr std::uint64_t kDefaultStart = 1'000'000;

    explicit ManualSimClock(std::uint64_t startMicroseconds = kDefaultStart)
        : now_(startMicroseconds) {}

    std::uint64_t nowMicroseconds() const override { return now_.load(); }
    void advance(std::uint64_t microseconds) {
        now_.fetch_add(microseconds);
        notify();
    }
    // Moves to the given time; earlier times are ignored, the clock never runs backwards.
    void set(std::uint64_t microseconds) {
        std::uint64_t current = now_.load();
        while (microseconds > current && !now_.compare_exchange_weak(current, microseconds)) {
        }
        notify();
    }

    std::uint64_t subscribe(std::function<void()> onMove) const override {
        std::lock_guard lock(observersMutex_);
        observers_.emplace(++lastToken_, std::move(onMove));
        return lastToken_;
    }
    void unsubscribe(std::uint64_t token) const override {
        std::lock_guard lock(observersMutex_);
        observers_.erase(token);
    }

  private:
    // Under the lock, so that unsubscribe waits for a call in progress.
    void notify() const {
        std::lock_guard lock(observersMutex_);
        for (const auto& [token, onMove] : observers_) onMove();
    }

    std::atomic<std::uint64_t> now_;
    mutable std::mutex observersMutex_;
    mutable std::map<std::uint64_t, std::function<void()>> observers_;
    mutable std::uint64_t lastToken_ = 0;
};

}  // namespace crvmon::sim
