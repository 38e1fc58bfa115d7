#include "sim/model/scenario_writer.h"

#include <charconv>
#include <cstdio>

namespace crvmon::sim {
namespace {

std::string hex(std::int64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// The shortest text that reads back as the same value, with a point or an exponent so that TOML
// takes it as a float.
template <class Float>
std::string shortest(Float value) {
    char text[40];
    std::string out(text, std::to_chars(text, text + sizeof text, value).ptr);
    return out.find_first_of(".e") == std::string::npos ? out + ".0" : out;
}

// A reading the library decodes in single precision: the float's own text ("0.85"), which the
// chip's step rounds back to the same half-word.
std::string reading(double value) {
    const auto single = static_cast<float>(value);
    return static_cast<double>(single) == value ? shortest(single) : shortest(value);
}

// "[1, 4, 2]".
template <class Items, class Text>
std::string list(const Items& items, Text text) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + text(item);
    return "[" + out + "]";
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

// "{ IOC_VERSION = 4 }": numbers per command.
std::string perCommand(const std::map<std::uint32_t, std::uint32_t>& values) {
    std::string out;
    for (const auto& [command, value] : values) {
        out +=
            (out.empty() ? "" : ", ") + veltaraCommandName(command) + " = " + std::to_string(value);
    }
    return "{ " + out + " }";
}

std::optional<std::string> compositeValue(const OrvekCardConfig& card, std::string_view key) {
    if (key == "firmware") return tomlString(firmwareText(card.firmware));
    if (key == "driver_version") return list(card.driverVersion, decimal);
    if (key == "location") {
        switch (card.location.kind) {
            case LocationKind::None: return tomlString("");
            case LocationKind::SlotChain: return list(card.location.slots, decimal);
            case LocationKind::PciAddress: return tomlString(pciAddressText(card.location.address));
        }
    }
    if (key == "identity_form" && card.identityForm == IdentityForm::Legacy) {
        return tomlString("legacy");
    }
    if (key == "load") return list(card.load, shortest<double>);
    return std::nullopt;  // identity_form "current" (the default), and the tables
}

std::optional<std::string> compositeValue(const OrvekCardFaults& faults, std::string_view key) {
    const auto registers = [](std::uint32_t address) { return hex(address, 8); };
    if (key == "failing_registers") return list(faults.failingRegisters, registers);
    if (key == "failing_writes") return list(faults.failingWrites, registers);
    return std::nullopt;
}

std::optional<std::string> compositeValue(const VeltaraDeviceConfig& device, std::string_view key) {
    // The flags word as a kind when it has that form, else as itself.
    const bool kindForm = (device.flags & 1u) != 0 && (device.flags >> 1) <= 15;
    if (key == "name") return tomlString(device.name);
    if (key == "kind" && kindForm) return std::to_string(device.flags >> 1);
    if (key == "flags" && !kindForm) return hex(device.flags, 4);
    if (key == "driver_version") return list(device.driverVersion, decimal);
    if (key == "host_driver_version") return list(device.hostDriverVersion, decimal);
    if (key == "version") return list(device.version, decimal);
    if (key == "activity_head") {
        return tomlString(device.activityHead == ActivityHead::Next ? "next" : "newest");
    }
    return std::nullopt;  // the tables
}

std::optional<std::string> compositeValue(const VeltaraDeviceFaults& faults, std::string_view key) {
    if (key == "reply_length") return perCommand(faults.replyLength);
    if (key == "status") return perCommand(faults.status);
    if (key == "endless_snapshot") return faults.endlessSnapshot ? "true" : "false";
    if (key == "silent") {
        return list(faults.silent,
                    [](std::uint32_t command) { return tomlString(veltaraCommandName(command)); });
    }
    return std::nullopt;
}

std::optional<std::string> compositeValue(const VeltaraProcessRow& row, std::string_view key) {
    if (key == "name" && !row.name.empty()) return tomlString(row.name);
    return std::nullopt;
}

template <class Config>
std::optional<std::string> compositeValue(const Config&, std::string_view) {
    return std::nullopt;
}

}  // namespace

std::string tomlString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

void ScenarioWriter::comment(std::string_view text) {
    out_ += "# ";
    // A comment ends at the line's end and must be valid UTF-8: anything else is replaced.
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out_ += byte < 0x20 || byte > 0x7E ? '?' : c;
    }
    out_ += '\n';
}

void ScenarioWriter::table(std::string_view header) {
    out_.append("\n").append(header) += '\n';
}

template <class Config>
void ScenarioWriter::write(const Config& config, ScenarioKeys<Config> rows, const KeyNotes& notes) {
    for (const ScenarioKey<Config>& key : rows) {
        if (const auto note = notes.find(key.name); note != notes.end()) {
            if (note->second) comment(*note->second);
            continue;
        }
        std::optional<std::string> value;
        switch (key.kind) {
            case KeyKind::Integer:
            case KeyKind::HexInteger:
                if (const auto number = key.integer(config)) {
                    value =
                        key.kind == KeyKind::Integer ? std::to_string(*number) : hex(*number, 4);
                }
                break;
            case KeyKind::Number: value = shortest(key.number(config)); break;
            case KeyKind::Reading: value = reading(key.number(config)); break;
            case KeyKind::Composite: value = compositeValue(config, key.name); break;
        }
        if (value) out_.append(key.name).append(" = ").append(*value) += '\n';
    }
}

void ScenarioWriter::keys(const OrvekCardConfig& card, const KeyNotes& notes) {
    KeyNotes all = notes;
    // The parser refuses a legacy index for a card of the current form.
    if (card.identityForm == IdentityForm::Current) all.emplace("legacy_index", std::nullopt);
    write(card, orvekCardKeys(), all);
}

void ScenarioWriter::keys(const OrvekCardFaults& faults, const KeyNotes& notes) {
    write(faults, orvekFaultKeys(), notes);
}

void ScenarioWriter::keys(const VeltaraDeviceConfig& device, const KeyNotes& notes) {
    write(device, veltaraDeviceKeys(), notes);
}

void ScenarioWriter::keys(const VeltaraWorkConfig& work, const KeyNotes& notes) {
    write(work, veltaraWorkKeys(), notes);
}

void ScenarioWriter::keys(const VeltaraProcessRow& row, const KeyNotes& notes) {
    write(row, veltaraProcessKeys(), notes);
}

void ScenarioWriter::keys(const VeltaraDeviceFaults& faults, const KeyNotes& notes) {
    write(faults, veltaraFaultKeys(), notes);
}

void ScenarioWriter::keys(const VeltaraServiceConfig& service, const KeyNotes& notes) {
    write(service, veltaraServiceKeys(), notes);
}

void ScenarioWriter::powerMonitor(const PowerMonitorConfig& monitor,
                                  std::optional<std::size_t> selector) {
    if (selector) out_ += "selector = " + std::to_string(*selector) + '\n';
    KeyNotes notes;
    if (!reportsOwnPower(monitor.chip)) notes.emplace("watts", std::nullopt);
    write(monitor, powerMonitorKeys(), notes);
}

void ScenarioWriter::orvekCard(const OrvekCardConfig& card) {
    table("[[orvek]]");
    keys(card);
    table("[orvek.board_power]");
    powerMonitor(card.boardPower, std::nullopt);
    for (std::size_t slot = 0; slot < card.extraPower.size(); ++slot) {
        if (!card.extraPower[slot]) continue;
        table("[[orvek.extra_power]]");
        powerMonitor(*card.extraPower[slot], slot);
    }
    table("[orvek.faults]");
    keys(card.faults);
}

void ScenarioWriter::veltaraDevice(const VeltaraDeviceConfig& device) {
    table("[[veltara]]");
    keys(device);
    for (const VeltaraWorkConfig& work : device.work) {
        table("[[veltara.work]]");
        keys(work);
    }
    for (const VeltaraProcessRow& row : device.processes) {
        table("[[veltara.process]]");
        keys(row);
    }
    table("[veltara.faults]");
    keys(device.faults);
}

std::string scenarioToml(const Scenario& scenario) {
    ScenarioWriter writer;
    for (const OrvekCardConfig& card : scenario.orvekCards) writer.orvekCard(card);
    for (const VeltaraDeviceConfig& device : scenario.veltaraDevices) {
        writer.veltaraDevice(device);
    }
    writer.table("[veltara_service]");
    writer.keys(scenario.veltaraService);
    return std::move(writer.text());
}

}  // namespace crvmon::sim
