#include "tools/common/simulation_option.h"

#include <stdexcept>

#include "sim/model/scenario.h"
#include "sim/private_simulation.h"
#include "tools/common/process_names.h"

namespace crvmon::tools {

namespace {

class RunningSimulation final : public SimulationOption::Running {
  public:
    explicit RunningSimulation(const sim::Scenario& scenario)
        : names_(scenario), simulation_(scenario) {}
    const std::string& objectRoot() const override { return simulation_.objectRoot(); }

  private:
    ScenarioProcessNames names_;
    sim::PrivateSimulation simulation_;
};

}  // namespace

SimulationOption::SimulationOption(CLI::App& app) {
    app.add_flag("--simulate", simulate_,
                 "Run against a simulated machine (the built-in scenario unless --scenario)");
    app.add_option("--scenario", scenario_, "Scenario file (TOML) to simulate; implies --simulate")
        ->check(CLI::Validator(CLI::ExistingFile).description(""))
        ->type_name("FILE");
}

std::unique_ptr<SimulationOption::Running> SimulationOption::start() const {
    if (!simulate_ && scenario_.empty()) return nullptr;
    const sim::Scenario scenario = scenario_.empty()
                                       ? sim::parseScenario(sim::builtInScenarioText())
                                       : sim::loadScenario(scenario_);
    return std::make_unique<RunningSimulation>(scenario);
}

}  // namespace crvmon::tools
