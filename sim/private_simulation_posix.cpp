#include "sim/private_simulation.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "sim/simulator.h"

namespace crvmon::sim {

PrivateSimulation::PrivateSimulation(const Scenario& scenario,
                                     std::shared_ptr<const SimClock> clock, ReplyFilters filters) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "crvmon-sim-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot make an object root");
    }
    root_ = name.data();

    if (const char* previous = getenv("CRVMON_OBJECT_ROOT")) {
        hadPreviousRoot_ = true;
        previousRoot_ = previous;
    }
    // Before the simulator's threads start, as restore() runs after they have stopped. The
    // environment is the process's: a simulation is made and ended while no other thread reads
    // it, before the library starts and after it has shut down.
    setenv("CRVMON_OBJECT_ROOT", root_.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    try {
        simulator_ = std::make_unique<Simulator>(scenario, std::move(clock), std::move(filters));
    } catch (...) {
        restore();
        throw;
    }
}

PrivateSimulation::~PrivateSimulation() {
    restore();
}

void PrivateSimulation::restore() noexcept {
    simulator_.reset();
    if (hadPreviousRoot_) {
        setenv("CRVMON_OBJECT_ROOT", previousRoot_.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
        unsetenv("CRVMON_OBJECT_ROOT");  // NOLINT(concurrency-mt-unsafe)
    }
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    root_.clear();
}

}  // namespace crvmon::sim
