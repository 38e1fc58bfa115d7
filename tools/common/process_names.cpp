#include "tools/common/process_names.h"

#include <atomic>

namespace crvmon::tools {
namespace {

std::atomic<const ScenarioProcessNames*> scenarioNames{nullptr};

}  // namespace

ScenarioProcessNames::ScenarioProcessNames(const sim::Scenario& scenario)
    : fallback_(sim::kDefaultProcessName) {
    for (const sim::VeltaraDeviceConfig& device : scenario.veltaraDevices) {
        for (const sim::VeltaraProcessRow& row : device.processes) {
            if (!row.name.empty()) names_.emplace(row.pid, row.name);
        }
    }
    scenarioNames.store(this);
}

ScenarioProcessNames::~ScenarioProcessNames() {
    const ScenarioProcessNames* self = this;
    scenarioNames.compare_exchange_strong(self, nullptr);
}

std::string ScenarioProcessNames::nameOf(std::int32_t pid) const {
    const auto found = names_.find(pid);
    return found != names_.end() ? found->second : fallback_;
}

std::optional<std::string> processName(std::int32_t pid) {
    if (const ScenarioProcessNames* names = scenarioNames.load()) return names->nameOf(pid);
    return systemProcessName(pid);
}

}  // namespace crvmon::tools
