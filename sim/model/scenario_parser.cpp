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
    const toml::node* volts = nullptr;
    const toml::node* amps = nullptr;
    const toml::node* watts = nullptr;
    Reader::Handlers handlers{
        {"chip",
         [&](const toml::node& node) {
             const std::int64_t chip = reader.integer(node, member(path, "chip"), 0, 0xFFFF);
             if (!isKnownPowerChip(static_cast<std::uint16_t>(chip))) {
                 reader.fail(node.source(),
                             keyName(member(path, "chip")) +
                                 " must be one of 0x5449, 0x2260, 0x2586, 0x49D2, 0x546E, "
                                 "0xA480, got " +
                                 hex(chip, 4));
             }
             monitor.chip = static_cast<std::uint16_t>(chip);
         }},
        {"volts",
         [&](const toml::node& node) {
             monitor.volts = reader.number(node, member(path, "volts"), 0, 1e9, "V");
             volts = &node;
         }},
        {"amps",
         [&](const toml::node& node) {
             monitor.amps = reader.number(node, member(path, "amps"), 0, 1e9, "A");
             amps = &node;
         }},
        {"watts",
         [&](const toml::node& node) {
             monitor.watts = reader.number(node, member(path, "watts"), 0, 1e9, "W");
             watts = &node;
         }},
    };
    if (selector) {
        handlers.emplace("selector", [&](const toml::node& node) {
            *selector = reader.integer(node, member(path, "selector"), 0, 3);
        });
    }
    reader.keys(table, path, handlers);

    if (reportsOwnPower(monitor.chip)) {
        if (!watts) monitor.watts = monitor.volts * monitor.amps;
    } else if (watts) {
        reader.fail(watts->source(), keyName(member(path, "watts")) + " cannot be set for chip " +
                                         hex(monitor.chip, 4) +
                                         ": its power is read as volts x amps");
    }
    checkReading(reader, volts, member(path, "volts"), {monitor.chip, monitor.volts, 0, 0});
    checkReading(reader, amps, member(path, "amps"), {monitor.chip, 0, monitor.amps, 0});
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

bool parseUnsigned(std::string_view text, int base, std::size_t digits, std::uint32_t& value) {
    if (text.empty() || (digits != 0 && text.size() != digits) || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return false;
        value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    }
    return true;
}

// "DDDD:BB:DD.F" in hexadecimal, as the library prints it.
bool parsePciAddress(std::string_view text, PciAddress& address) {
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.') return false;
    std::uint32_t domain = 0, bus = 0, device = 0, function = 0;
    if (!parseUnsigned(text.substr(0, 4), 16, 4, domain) ||
        !parseUnsigned(text.substr(5, 2), 16, 2, bus) ||
        !parseUnsigned(text.substr(8, 2), 16, 2, device) ||
        !parseUnsigned(text.substr(11, 1), 16, 1, function) || device > 31 || function > 7) {
        return false;
    }
    address = {static_cast<std::uint16_t>(domain), static_cast<std::uint8_t>(bus),
               static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(function)};
    return true;
}

// "major.minor" or "major.minor.patch" in decimal.
bool parseFirmware(std::string_view text, FirmwareVersion& firmware) {
    std::uint32_t parts[3] = {};
    std::size_t count = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        if (count == 3 || !parseUnsigned(text.substr(0, dot), 10, 0, parts[count])) return false;
        ++count;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    if (count < 2 || parts[0] > 63 || parts[1] > 1023 || (count == 3 && parts[2] > 32767)) {
        return false;
    }
    firmware.major = parts[0];
    firmware.minor = parts[1];
    firmware.patch = count == 3 ? std::optional<std::uint32_t>(parts[2]) : std::nullopt;
    return true;
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

void parseFaults(const Reader& reader, const toml::table& table, const std::string& path,
                 OrvekCardFaults& faults, const toml::node*& legacyLength) {
    reader.keys(table, path,
                {{"legacy_reply_length",
                  [&](const toml::node& node) {
                      faults.legacyReplyLength = static_cast<std::uint32_t>(reader.integer(
                          node, member(path, "legacy_reply_length"), 0, 1039, "bytes"));
                      legacyLength = &node;
                  }},
                 {"failing_registers",
                  [&](const toml::node& node) {
                      faults.failingRegisters =
                          registerList(reader, node, member(path, "failing_registers"));
                  }},
                 {"failing_writes",
                  [&](const toml::node& node) {
                      faults.failingWrites =
                          registerList(reader, node, member(path, "failing_writes"));
                  }},
                 {"usage_reply_length", [&](const toml::node& node) {
                      faults.usageReplyLength = static_cast<std::uint32_t>(reader.integer(
                          node, member(path, "usage_reply_length"), 0, 10352, "bytes"));
                  }}});
}

OrvekCardConfig parseCard(const Reader& reader, const toml::table& table, std::size_t position) {
    const std::string path = "orvek[" + std::to_string(position) + "]";
    OrvekCardConfig card;
    card.deviceIndex = static_cast<int>(position);
    const toml::node* memoryUsed = nullptr;
    const toml::node* legacyIndex = nullptr;
    const toml::node* legacyLength = nullptr;
    bool locationGiven = false;

    // A key holding one bounded integer, stored into a field of the card.
    auto integerKey = [&](std::string_view key, auto& field, std::int64_t min, std::int64_t max,
                          std::string_view unit = {}) {
        auto* target = &field;
        using Field = std::remove_pointer_t<decltype(target)>;
        return std::pair{
            key, std::function<void(const toml::node&)>([&reader, &path, target, key, min, max,
                                                         unit](const toml::node& node) {
                *target =
                    static_cast<Field>(reader.integer(node, member(path, key), min, max, unit));
            })};
    };

    reader.keys(
        table, path,
        {integerKey("device_index", card.deviceIndex, 0, 0x7FFFFFFF),
         integerKey("temperature", card.temperatureC, 0, 255, "degrees C"),
         integerKey("switch_temperature", card.switchTemperatureC, 0, 255, "degrees C"),
         integerKey("npu_clock_mhz", card.npuClockMHz, 0, 4294, "MHz"),
         integerKey("bus_clock_mhz", card.busClockMHz, 0, 4294, "MHz"),
         integerKey("fan_duty", card.fanDutyPercent, 0, 100, "%"),
         integerKey("chip_id", card.chipId, 0, 3),
         integerKey("aux_status", card.auxStatus, 0, 0xFFFFFFFF),
         integerKey("extra_pmic_selected", card.extraPmicSelected, 0, 3),
         integerKey("firmware_revision", card.firmware.revision, 0, 15),
         integerKey("vendor_id", card.vendorId, 0, 0xFFFF),
         integerKey("device_id", card.deviceId, 0, 0xFFFF),
         integerKey("board_kind", card.boardKind, 0, 7),
         integerKey("grade", card.grade, 0, 3),
         integerKey("chip_generation", card.chipGeneration, 0, 3),
         integerKey("pcie_gen", card.pcieGen, 0, 255),
         integerKey("pcie_lanes", card.pcieLanes, 0, 255),
         integerKey("pcie_rev", card.pcieRev, 0, 255),
         integerKey("pcie_class_code", card.pcieClassCode, 0, 0xFFFFFFFF),
         {"legacy_index",
          [&](const toml::node& node) {
              card.legacyIndex = static_cast<std::int32_t>(
                  reader.integer(node, member(path, "legacy_index"), INT32_MIN, INT32_MAX));
              legacyIndex = &node;
          }},
         {"memory_gib",
          [&](const toml::node& node) {
              const std::int64_t gib =
                  reader.integer(node, member(path, "memory_gib"), 2, 256, "GiB");
              if ((gib & (gib - 1)) != 0) {
                  reader.fail(node.source(), keyName(member(path, "memory_gib")) +
                                                 " must be a power of two from 2 to 256, got " +
                                                 std::to_string(gib));
              }
              card.memoryGiB = static_cast<std::uint32_t>(gib);
          }},
         {"memory_used",
          [&](const toml::node& node) {
              card.memoryUsedBytes = static_cast<std::uint64_t>(
                  reader.integer(node, member(path, "memory_used"), 0, INT64_MAX, "bytes"));
              memoryUsed = &node;
          }},
         {"firmware",
          [&](const toml::node& node) {
              const std::uint32_t revision = card.firmware.revision;
              if (!parseFirmware(reader.string(node, member(path, "firmware")), card.firmware)) {
                  reader.fail(node.source(),
                              keyName(member(path, "firmware")) +
                                  " must read major.minor or major.minor.patch (major 0-63, "
                                  "minor 0-1023, patch 0-32767), got \"" +
                                  node.as_string()->get() + "\"");
              }
              card.firmware.revision = revision;
          }},
         {"driver_version",
          [&](const toml::node& node) {
              card.driverVersion = reader.version4(node, member(path, "driver_version"));
          }},
         {"location",
          [&](const toml::node& node) {
              const std::string key = member(path, "location");
              locationGiven = true;
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
                  if (text.empty()) {
                      card.location.kind = LocationKind::None;
                  } else if (parsePciAddress(text, card.location.address)) {
                      card.location.kind = LocationKind::PciAddress;
                  } else {
                      reader.fail(node.source(),
                                  keyName(key) +
                                      " must be a PCI address DDDD:BB:DD.F in hexadecimal "
                                      "(device 00-1F, function 0-7), got \"" +
                                      text + "\"");
                  }
              } else {
                  reader.fail(node.source(), keyName(key) +
                                                 " must be a PCI address string or an array of "
                                                 "slot numbers, not " +
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
         {"load_wave_amplitude",
          [&](const toml::node& node) {
              card.loadWaveAmplitude =
                  reader.number(node, member(path, "load_wave_amplitude"), 0, 1);
          }},
         {"load_wave_period_s",
          [&](const toml::node& node) {
              card.loadWavePeriodSeconds =
                  reader.number(node, member(path, "load_wave_period_s"), 0.001, 1e7, "s");
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
                  const auto slot =
                      static_cast<std::size_t>(selector.value_or(static_cast<std::int64_t>(i)));
                  if (card.extraPower[slot]) {
                      reader.fail(monitors.get(i)->source(),
                                  keyName(itemPath) + " takes selector " + std::to_string(slot) +
                                      ", which another monitor has");
                  }
                  card.extraPower[slot] = monitor;
              }
          }},
         {"faults", [&](const toml::node& node) {
              const std::string key = member(path, "faults");
              parseFaults(reader, reader.table(node, key), key, card.faults, legacyLength);
          }}});

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
    if (!locationGiven) {
        card.location.address.bus = static_cast<std::uint8_t>(card.deviceIndex + 1);
    }
    if (card.memoryUsedBytes > (std::uint64_t{card.memoryGiB} << 30)) {
        reader.fail(memoryUsed->source(), keyName(member(path, "memory_used")) + " (" +
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
