// The name of a process a device reports, for the process tables, the JSON, the metrics' labels
// and the page. On a real machine the operating system names it. A simulated machine's process
// ids are made up and may belong to an unrelated process of this machine, so while a simulation
// is served in this process (where the whole process's library sees it) its scenario names them
// instead, never this machine's process table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim/model/scenario.h"

namespace crvmon::tools {

// The name of the process with this id; empty when there is none to give (no such process, or
// one this user may not inspect).
std::optional<std::string> processName(std::int32_t pid);

// The operating system's name: /proc/PID/comm on Linux, the image's file name on Windows.
std::optional<std::string> systemProcessName(std::int32_t pid);

// While alive, processName answers from the scenario: the first name its process rows give each
// pid, the default name for any other. Made with the simulation it belongs to, before the first
// read.
class ScenarioProcessNames {
  public:
    explicit ScenarioProcessNames(const sim::Scenario& scenario);
    ~ScenarioProcessNames();
    ScenarioProcessNames(const ScenarioProcessNames&) = delete;
    ScenarioProcessNames& operator=(const ScenarioProcessNames&) = delete;

    std::string nameOf(std::int32_t pid) const;

  private:
    std::map<std::int32_t, std::string> names_;
    std::string fallback_;
};

}  // namespace crvmon::tools
