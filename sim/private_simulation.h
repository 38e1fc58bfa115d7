// A scenario simulated for this process: a fresh object root, made the stand-in's root for the
// process, with the simulator serving under it until destroyed (on Windows, the machine's own
// namespace, which one simulation at a time may use). Used by the tools' --simulate and by the
// tests.
#pragma once

#include <memory>
#include <string>

#include "sim/model/scenario.h"
#include "sim/model/sim_clock.h"
#include "sim/reply_filters.h"

namespace crvmon::sim {

class Simulator;

class PrivateSimulation {
  public:
    // Throws when the root cannot be made or the scenario cannot be served. Filters see the
    // replies before the library does.
    explicit PrivateSimulation(
        const Scenario& scenario,
        std::shared_ptr<const SimClock> clock = std::make_shared<SteadySimClock>(),
        ReplyFilters filters = {});
    ~PrivateSimulation();
    PrivateSimulation(const PrivateSimulation&) = delete;
    PrivateSimulation& operator=(const PrivateSimulation&) = delete;

    // Empty on Windows.
    const std::string& objectRoot() const { return root_; }

  private:
    void restore() noexcept;

    std::string root_;
    std::string previousRoot_;
    bool hadPreviousRoot_ = false;
    std::unique_ptr<Simulator> simulator_;
};

}  // namespace crvmon::sim
