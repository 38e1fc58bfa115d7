// Scenario configs written back as TOML, key by key from the rows of scenario_keys.h, so that
// parseScenario reads the text as the same configs.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "sim/model/scenario.h"
#include "sim/model/scenario_keys.h"

namespace crvmon::sim {

// Keys a caller leaves out (nullopt: the key takes its default) or replaces by a comment.
using KeyNotes = std::map<std::string, std::optional<std::string>, std::less<>>;

class ScenarioWriter {
  public:
    // A comment line; bytes outside printable ASCII become '?', so that the file stays UTF-8.
    void comment(std::string_view text);
    // A table header after a blank line: "[[orvek]]", "[orvek.board_power]".
    void table(std::string_view header);

    // The keys of one table in the order of its rows. Keys that are tables of their own
    // (board_power, extra_power, faults, work, process) are written by their own calls.
    void keys(const OrvekCardConfig& card, const KeyNotes& notes = {});
    void keys(const OrvekCardFaults& faults, const KeyNotes& notes = {});
    void keys(const VeltaraDeviceConfig& device, const KeyNotes& notes = {});
    void keys(const VeltaraWorkConfig& work, const KeyNotes& notes = {});
    void keys(const VeltaraProcessRow& row, const KeyNotes& notes = {});
    void keys(const VeltaraDeviceFaults& faults, const KeyNotes& notes = {});
    void keys(const VeltaraServiceConfig& service, const KeyNotes& notes = {});
    // A power monitor, with the selector of an extra one; watts only for a chip that reports
    // its own power.
    void powerMonitor(const PowerMonitorConfig& monitor, std::optional<std::size_t> selector);

    // A card or device with all its tables, each under its header.
    void orvekCard(const OrvekCardConfig& card);
    void veltaraDevice(const VeltaraDeviceConfig& device);

    std::string& text() { return out_; }

  private:
    template <class Config>
    void write(const Config& config, ScenarioKeys<Config> rows, const KeyNotes& notes);

    std::string out_;
};

// The whole scenario.
std::string scenarioToml(const Scenario& scenario);

// A TOML basic string; bytes above 0x7E are taken as Latin-1, as a Veltara name's are.
std::string tomlString(std::string_view text);

}  // namespace crvmon::sim
