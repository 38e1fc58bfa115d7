// Reads scenario files. Every value is checked where it stands, so that a mistake is reported
// with its line instead of surfacing later as a wrong reading.
#include <toml++/toml.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "sim/model/power_encoding.h"
#include "sim/model/scenario.h"
#include "sim/model/scenario_reader.h"

namespace crvmon::sim {
namespace {

using namespace toml_scenario;

// Half-words decode only within each chip's range: check each reading alone so that the error
// points at the key that is out of range.
void checkReading(const Reader& reader, const toml::node* node, const std::string& path,
                  const PowerMonitorConfig& probe) {
    if (!node) return;
    try {
        encodePowerMonitor(probe);
    } catch (const std::invalid_argument& e) {
        reader.fail(node->source(), keyName(path) + ": " + e.what());
    }
}

PowerMonitorConfig parsePower(const Reader& reader, const toml::table& table,
                              const std::string& path, std::optional<std::int64_t>* selector) {
    PowerMonitorConfig monitor;
    Reader::Handlers own;
    if (selector) {
        own.emplace("selector", [&](const toml::node& node) {
            *selector = reader.integer(node, member(path, "selector"), 0, 3);
        });
    }
    const Reader::Given given =
        reader.keys(table, path, reader.rows(monitor, powerMonitorKeys(), path, own));

    if (const toml::node* chip = given("chip"); chip && !isKnownPowerChip(monitor.chip)) {
        reader.fail(chip->source(), keyName(member(path, "chip")) +
                                        " must be one of 0x5449, 0x2260, 0x2586, 0x49D2, 0x546E, "
                                        "0xA480, got " +
                                        hex(monitor.chip, 4));
    }
    const toml::node* watts = given("watts");
    if (reportsOwnPower(monitor.chip)) {
        if (!watts) monitor.watts = monitor.volts * monitor.amps;
    } else if (watts) {
        reader.fail(watts->source(), keyName(member(path, "watts")) + " cannot be set for chip " +
                                         hex(monitor.chip, 4) +
                                         ": its power is read as volts x amps");
    }
    checkReading(reader, given("volts"), member(path, "volts"),
                 {monitor.chip, monitor.volts, 0, 0});
    checkReading(reader, given("amps"), member(path, "amps"), {monitor.chip, 0, monitor.amps, 0});
    checkReading(reader, watts, member(path, "watts"), {monitor.chip, 0, 0, monitor.watts});
    // Readings left at their defaults may not suit the chip either.
    checkReading(reader, &table, path, monitor);
    return monitor;
}

// Latin-1 letters in upper case, as pipe names compare.
std::string caseFolded(std::string name) {
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
            c = static_cast<char>(byte - 0x20);
        }
    }
    return name;
}

// A list of the card's register addresses.
std::vector<std::uint32_t> registerList(const Reader& reader, const toml::node& node,
                                        const std::string& key) {
    std::vector<std::uint32_t> addresses;
    for (const toml::node& item : reader.array(node, key)) {
        const std::int64_t address = reader.integer(item, key, 0, 0xFFFFFFFF);
        if (!isCardRegister(static_cast<std::uint32_t>(address))) {
            reader.fail(item.source(), keyName(key) + " holds " + hex(address, 8) +
                                           ", which is not a register of the card");
        }
        addresses.push_back(static_cast<std::uint32_t>(address));
    }
    return addresses;
}

// The faults table; the node of legacy_reply_length, when given, for the check of the form.
const toml::node* parseFaults(const Reader& reader, const toml::table& table,
                              const std::string& path, OrvekCardFaults& faults) {
    return reader.keys(table, path,
                       reader.rows(faults, orvekFaultKeys(), path,
                                   {{"failing_registers",
                                     [&](const toml::node& node) {
                                         faults.failingRegisters = registerList(
                                             reader, node, member(path, "failing_registers"));
                                     }},
                                    {"failing_writes", [&](const toml::node& node) {
                                         faults.failingWrites = registerList(
                                             reader, node, member(path, "failing_writes"));
                                     }}}))("legacy_reply_length");
}

OrvekCardConfig parseCard(const Reader& reader, const toml::table& table, std::size_t position) {
    const std::string path = "orvek[" + std::to_string(position) + "]";
    OrvekCardConfig card;
    card.deviceIndex = static_cast<int>(position);
    const toml::node* legacyLength = nullptr;

    const Reader::Given given = reader.keys(
        table, path,
        reader.rows(
            card, orvekCardKeys(), path,
            {{"firmware",
              [&](const toml::node& node) {
                  const std::string& text = reader.string(node, member(path, "firmware"));
                  const auto firmware = firmwareFromText(text);
                  if (!firmware) {
                      reader.fail(node.source(),
                                  keyName(member(path, "firmware")) +
                                      " must read major.minor or major.minor.patch (major 0-63, "
                                      "minor 0-1023, patch 0-32767), got \"" +
                                      text + "\"");
                  }
                  const std::uint32_t revision = card.firmware.revision;
                  card.firmware = *firmware;
                  card.firmware.revision = revision;
              }},
             {"driver_version",
              [&](const toml::node& node) {
                  card.driverVersion = reader.version4(node, member(path, "driver_version"));
              }},
             {"location",
              [&](const toml::node& node) {
                  const std::string key = member(path, "location");
                  if (node.is_array()) {
                      const toml::array& slots = *node.as_array();
                      if (slots.empty() || slots.size() > 7) {
                          reader.fail(node.source(), keyName(key) +
                                                         " as a slot chain must hold 1 to 7 "
                                                         "numbers, got " +
                                                         std::to_string(slots.size()));
                      }
                      card.location.kind = LocationKind::SlotChain;
                      for (const toml::node& slot : slots) {
                          card.location.slots.push_back(
                              static_cast<std::uint16_t>(reader.integer(slot, key, 0, 0xFFFF)));
                      }
                  } else if (node.is_string()) {
                      const std::string& text = node.as_string()->get();
                      const auto address = pciAddressFromText(text);
                      if (text.empty()) {
                          card.location.kind = LocationKind::None;
                      } else if (address) {
                          card.location.kind = LocationKind::PciAddress;
                          card.location.address = *address;
                      } else {
                          reader.fail(node.source(),
                                      keyName(key) +
                                          " must be a PCI address DDDD:BB:DD.F in hexadecimal "
                                          "(device 00-1F, function 0-7), got \"" +
                                          text + "\"");
                      }
                  } else {
                      reader.fail(node.source(), keyName(key) +
                                                     " must be a PCI address string or an array "
                                                     "of slot numbers, not " +
                                                     typeName(node));
                  }
              }},
             {"identity_form",
              [&](const toml::node& node) {
                  const std::string& form = reader.string(node, member(path, "identity_form"));
                  if (form == "current") {
                      card.identityForm = IdentityForm::Current;
                  } else if (form == "legacy") {
                      card.identityForm = IdentityForm::Legacy;
                  } else {
                      reader.fail(node.source(), keyName(member(path, "identity_form")) +
                                                     " must be \"current\" or \"legacy\", got \"" +
                                                     form + "\"");
                  }
              }},
             {"load",
              [&](const toml::node& node) {
                  const std::string key = member(path, "load");
                  if (node.is_array()) {
                      const toml::array& loads = *node.as_array();
                      if (loads.size() != kCoreEntries) {
                          reader.fail(node.source(), keyName(key) +
                                                         " must hold 10 fractions (cluster 0 "
                                                         "cores 0-3 and cluster, then cluster "
                                                         "1), got " +
                                                         std::to_string(loads.size()));
                      }
                      for (std::size_t i = 0; i < kCoreEntries; ++i) {
                          card.load[i] = reader.number(*loads.get(i), key, 0, 1);
                      }
                  } else {
                      card.load.fill(reader.number(node, key, 0, 1));
                  }
              }},
             {"board_power",
              [&](const toml::node& node) {
                  const std::string key = member(path, "board_power");
                  card.boardPower = parsePower(reader, reader.table(node, key), key, nullptr);
              }},
             {"extra_power",
              [&](const toml::node& node) {
                  const std::string key = member(path, "extra_power");
                  const toml::array& monitors = reader.tableArray(node, key);
                  if (monitors.size() > 4) {
                      reader.fail(
                          monitors.get(4)->source(),
                          keyName(key) + " holds more than 4 monitors (the selector has 2 bits)");
                  }
                  for (std::size_t i = 0; i < monitors.size(); ++i) {
                      const std::string itemPath = key + "[" + std::to_string(i) + "]";
                      std::optional<std::int64_t> selector;
                      const PowerMonitorConfig monitor =
                          parsePower(reader, *monitors.get(i)->as_table(), itemPath, &selector);
                      const auto slot = static_cast<std::size_t>(
                          selector.value_or(static_cast<std::int64_t>(i)));
                      if (card.extraPower[slot]) {
                          reader.fail(monitors.get(i)->source(),
                                      keyName(itemPath) + " takes selector " +
                                          std::to_string(slot) + ", which another monitor has");
                      }
                      card.extraPower[slot] = monitor;
                  }
              }},
             {"faults", [&](const toml::node& node) {
                  const std::string key = member(path, "faults");
                  legacyLength = parseFaults(reader, reader.table(node, key), key, card.faults);
              }}}));

    if (const toml::node* gib = given("memory_gib");
        gib && (card.memoryGiB & (card.memoryGiB - 1)) != 0) {
        reader.fail(gib->source(), keyName(member(path, "memory_gib")) +
                                       " must be a power of two from 2 to 256, got " +
                                       std::to_string(card.memoryGiB));
    }
    const toml::node* legacyIndex = given("legacy_index");
    if (card.identityForm == IdentityForm::Current) {
        if (legacyIndex) {
            reader.fail(legacyIndex->source(), keyName(member(path, "legacy_index")) +
                                                   " applies only with identity_form = \"legacy\"");
        }
        if (legacyLength) {
            reader.fail(legacyLength->source(),
                        keyName(member(path, "faults.legacy_reply_length")) +
                            " applies only with identity_form = \"legacy\"");
        }
    } else if (!legacyIndex) {
        card.legacyIndex = card.deviceIndex < 64 ? card.deviceIndex : 0;
    }
    if (!given("location")) {
        card.location.address.bus = static_cast<std::uint8_t>(card.deviceIndex + 1);
    }
    if (card.memoryUsedBytes > (std::uint64_t{card.memoryGiB} << 30)) {
        reader.fail(given("memory_used")->source(), keyName(member(path, "memory_used")) + " (" +
                                                        std::to_string(card.memoryUsedBytes) +
                                                        " bytes) exceeds the card's " +
                                                        std::to_string(card.memoryGiB) + " GiB");
    }
    return card;
}

}  // namespace

Scenario parseScenario(std::string_view text, std::string_view sourceName) {
    const Reader reader(sourceName);
    toml::table root;
    try {
        root = toml::parse(text, sourceName);
    } catch (const toml::parse_error& e) {
        reader.fail(e.source(),
                    e.description().empty() ? "not valid TOML" : std::string(e.description()));
    }

    Scenario scenario;
    std::map<int, std::size_t> indexOwner;
    reader.keys(root, "",
                {{"orvek",
                  [&](const toml::node& node) {
                      const toml::array& cards = reader.tableArray(node, "orvek");
                      for (std::size_t i = 0; i < cards.size(); ++i) {
                          const toml::table& table = *cards.get(i)->as_table();
                          OrvekCardConfig card = parseCard(reader, table, i);
                          const auto [owner, fresh] = indexOwner.emplace(card.deviceIndex, i);
                          if (!fresh) {
                              reader.fail(table.source(),
                                          "orvek[" + std::to_string(i) + "] has device_index " +
                                              std::to_string(card.deviceIndex) + ", which orvek[" +
                                              std::to_string(owner->second) + "] has already");
                          }
                          scenario.orvekCards.push_back(std::move(card));
                      }
                  }},
                 {"veltara",
                  [&](const toml::node& node) {
                      const toml::array& devices = reader.tableArray(node, "veltara");
                      std::map<std::string, std::size_t> nameOwner;
                      for (std::size_t i = 0; i < devices.size(); ++i) {
                          const toml::table& table = *devices.get(i)->as_table();
                          VeltaraDeviceConfig device = parseVeltaraDevice(reader, table, i);
                          // Two devices of one name would need the same pipe, and pipe names
                          // ignore case; a device number may repeat (the library opens the
                          // first).
                          const auto [owner, fresh] = nameOwner.emplace(caseFolded(device.name), i);
                          if (!fresh) {
                              reader.fail(table.source(),
                                          "veltara[" + std::to_string(i) + "] has the name \"" +
                                              device.name + "\", which veltara[" +
                                              std::to_string(owner->second) + "] has already");
                          }
                          scenario.veltaraDevices.push_back(std::move(device));
                      }
                  }},
                 {"veltara_service", [&](const toml::node& node) {
                      scenario.veltaraService =
                          parseVeltaraService(reader, reader.table(node, "veltara_service"));
                  }}});

    // Anything the checks above let through is held to the model's own rules.
    for (std::size_t i = 0; i < scenario.orvekCards.size(); ++i) {
        try {
            validateCardConfig(scenario.orvekCards[i]);
        } catch (const std::invalid_argument& e) {
            throw ScenarioError(std::string(sourceName) + ": orvek[" + std::to_string(i) +
                                "]: " + e.what());
        }
    }
    for (std::size_t i = 0; i < scenario.veltaraDevices.size(); ++i) {
        try {
            validateVeltaraDeviceConfig(scenario.veltaraDevices[i]);
        } catch (const std::invalid_argument& e) {
            throw ScenarioError(std::string(sourceName) + ": veltara[" + std::to_string(i) +
                                "]: " + e.what());
        }
    }
    try {
        validateVeltaraServiceConfig(scenario.veltaraService);
    } catch (const std::invalid_argument& e) {
        throw ScenarioError(std::string(sourceName) + ": veltara_service: " + e.what());
    }
    return scenario;
}

Scenario loadScenario(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ScenarioError(path.string() + ": cannot be opened");
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) throw ScenarioError(path.string() + ": cannot be read");
    return parseScenario(text.str(), path.string());
}

}  // namespace crvmon::sim
