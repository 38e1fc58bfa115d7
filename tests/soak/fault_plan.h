// The faults the soak injects, drawn from one seeded generator and counted: Orvek requests
// failed or shortened, Veltara replies cut, padded or dropped with their connection. Called
// on the simulators' threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "sim/model/veltara_device_model.h"

namespace crvmon::soak {

struct FaultCounts {
    std::atomic<long> orvekFailed{0};
    std::atomic<long> orvekShortened{0};
    std::atomic<long> veltaraCut{0};
    std::atomic<long> veltaraPadded{0};
    std::atomic<long> veltaraDropped{0};
    std::atomic<long> serviceRestarts{0};
    long total() const;
};

class FaultPlan {
  public:
    // `oneIn`: a reply is altered with a chance of one in this many.
    FaultPlan(std::uint64_t seed, unsigned oneIn) : random_(seed), oneIn_(oneIn) {}

    void setActive(bool active) { active_.store(active); }
    bool active() const { return active_.load(); }
    // A number below `bound`, from the plan's generator.
    std::uint32_t draw(std::uint32_t bound);

    void orvek(std::vector<std::uint8_t>& output, std::uint32_t& error);
    void veltara(sim::VeltaraReply& reply);

    FaultCounts counts;

  private:
    std::mutex mutex_;  // guards random_
    std::mt19937_64 random_;
    const unsigned oneIn_;
    std::atomic<bool> active_{false};
};

}  // namespace crvmon::soak
