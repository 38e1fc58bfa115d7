// A scenario: the simulated devices and their faults, read from a TOML file. The format is
// documented by example in scenarios/example.toml.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/model/orvek_card_config.h"
#include "sim/model/veltara_device_config.h"

namespace crvmon::sim {

struct Scenario {
    std::vector<OrvekCardConfig> orvekCards;          // the [[orvek]] tables, in file order
    std::vector<VeltaraDeviceConfig> veltaraDevices;  // the [[veltara]] tables, in file order
    VeltaraServiceConfig veltaraService;              // the [veltara_service] table
};

// A scenario that cannot be used. The message starts with "source:line:column: " where the
// problem is in the file, and names the offending key.
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Every key is checked for its type and range; unknown keys are rejected. Keys left out take
// the defaults of OrvekCardConfig and VeltaraDeviceConfig (device_index and dev_no default to the
// device's position, a Veltara name to "usb" and that position).
Scenario parseScenario(std::string_view text, std::string_view sourceName = "scenario");
Scenario loadScenario(const std::filesystem::path& path);

// Two Orvek cards that differ in every way the library cares about, with changing load, and
// two Veltara devices of different kinds with processes at work.
std::string_view builtInScenarioText();
Scenario builtInScenario();

}  // namespace crvmon::sim
