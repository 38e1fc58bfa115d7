#include "sim/model/veltara_device_config.h"

#include <algorithm>
#include <stdexcept>

#include "lib/veltara/client/veltara_wire.h"
#include "sim/model/scenario_keys.h"

namespace crvmon::sim {
namespace wire = veltara::wire;
namespace {

void require(bool ok, const std::string& what) {
    if (!ok) throw std::invalid_argument(what);
}

void requireAnswered(std::uint32_t command, const char* field) {
    require(veltaraReplyShape(command) != VeltaraReplyShape::None,
            std::string(field) + " names " + veltaraCommandName(command) +
                ", which the service never answers");
}

}  // namespace

bool isProcessName(std::string_view name) {
    return !name.empty() && name.size() <= kProcessNameMax &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::optional<std::uint32_t> veltaraCommandByName(std::string_view name) {
    if (name == wire::kHostInfoName) return kHostInfoCommand;
    for (std::uint32_t i = 0; i < wire::kCommandNames.size(); ++i) {
        if (wire::kCommandNames[i] == name) return i;
    }
    return std::nullopt;
}

std::string veltaraCommandName(std::uint32_t command) {
    if (command == kHostInfoCommand) return wire::kHostInfoName;
    if (command < wire::kCommandNames.size()) return wire::kCommandNames[command];
    if (command >= kHostCommandBase)
        return "host command " + std::to_string(command - kHostCommandBase);
    return "command " + std::to_string(command);
}

VeltaraReplyShape veltaraReplyShape(std::uint32_t command) {
    switch (command) {
        case 1: return VeltaraReplyShape::Version;
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 13:
        case 15:
        case 20:
        case 21: return VeltaraReplyShape::Status;
        case 9:
        case 10:
        case 11: return VeltaraReplyShape::Value;
        case 2:
        case 12:
        case 14:
        case 19:
        case 22:
        case kHostInfoCommand: return VeltaraReplyShape::Record;
        default: return VeltaraReplyShape::None;
    }
}

void validateVeltaraDeviceConfig(const VeltaraDeviceConfig& config) {
    require(config.name.size() <= kVeltaraNameMax,
            "name must be at most 64 bytes, got " + std::to_string(config.name.size()));
    for (char c : config.name) {
        const auto byte = static_cast<unsigned char>(c);
        // Pipe and section names cannot carry path separators or control characters.
        require(byte >= 0x20 && byte != 0x7F && c != '/' && c != '\\',
                "name must not hold control characters, '/' or '\\'");
    }
    require(config.pagesInUse <= config.memoryPages,
            "pagesInUse (" + std::to_string(config.pagesInUse) + ") exceeds memoryPages (" +
                std::to_string(config.memoryPages) + ")");
    validateKeys(config, veltaraDeviceKeys());
    for (std::size_t i = 0; i < config.work.size(); ++i) {
        const VeltaraWorkConfig& work = config.work[i];
        const std::string field = "work[" + std::to_string(i) + "].";
        validateKeys(work, veltaraWorkKeys(), field);
        require(work.busyUs <= work.periodUs, field + "busyUs exceeds periodUs");
        require(!work.stopUs || *work.stopUs > work.startUs,
                field + "stopUs must lie after startUs");
    }
    const VeltaraDeviceFaults& faults = config.faults;
    validateKeys(faults, veltaraFaultKeys());
    for (const auto& [command, length] : faults.replyLength) {
        requireAnswered(command, "faults.replyLength");
        require(length <= kMaxReplyLength,
                "faults.replyLength must be at most " + std::to_string(kMaxReplyLength));
    }
    for (const auto& [command, word] : faults.status) {
        require(veltaraReplyShape(command) == VeltaraReplyShape::Status,
                "faults.status names " + veltaraCommandName(command) +
                    ", which does not answer with a status word");
    }
    for (std::uint32_t command : faults.silent) requireAnswered(command, "faults.silent");
}

void validateVeltaraServiceConfig(const VeltaraServiceConfig& config) {
    validateKeys(config, veltaraServiceKeys());
}

}  // namespace crvmon::sim
