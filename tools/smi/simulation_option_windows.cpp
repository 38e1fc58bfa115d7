#include <stdexcept>

#include "simulation_option.h"

namespace crvmon::smi {

SimulationOption::SimulationOption(CLI::App& app) {
    app.add_flag("--simulate", simulate_, "Run against a simulated machine");
    app.add_option("--scenario", scenario_, "Scenario file (TOML) to simulate");
}

// The Windows simulator needs its kernel-mode driver, which this build does not carry yet.
std::unique_ptr<SimulationOption::Running> SimulationOption::start() const {
    if (!simulate_ && scenario_.empty()) return nullptr;
    throw std::runtime_error("not available in the Windows build yet");
}

}  // namespace crvmon::smi
