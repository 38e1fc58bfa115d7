// The simulated driver's notion of "now", in microseconds: the time unit of the activity rings
// and of the usage reply's timestamp. Tests drive a manual clock so that every sample is
// reproducible; the simulator runs on the steady clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace crvmon::sim {

class SimClock {
  public:
    virtual ~SimClock() = default;
    // Microseconds; never goes backwards.
    virtual std::uint64_t nowMicroseconds() const = 0;
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
    void advance(std::uint64_t microseconds) { now_.fetch_add(microseconds); }
    // Moves to the given time; earlier times are ignored, the clock never runs backwards.
    void set(std::uint64_t microseconds) {
        std::uint64_t current = now_.load();
        while (microseconds > current && !now_.compare_exchange_weak(current, microseconds)) {
        }
    }

  private:
    std::atomic<std::uint64_t> now_;
};

}  // namespace crvmon::sim
