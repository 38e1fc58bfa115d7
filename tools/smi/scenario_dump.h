// crvmon-smi --dump-scenario: what the library reads from a machine, written as a scenario that
// crvmon-sim and --scenario load back, so that anyone can reproduce the machine's state.
#pragma once

#include <string>
#include <vector>

#include "tools/common/device_sample.h"

namespace crvmon::smi {

// The scenario TOML for these devices (each read with kReadEverything).
std::string scenarioText(const std::vector<tools::DeviceSample>& devices);

}  // namespace crvmon::smi
