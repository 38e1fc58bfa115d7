#include "sim/model/orvek_card_config.h"

#include "sim/orvek/driver/orvek_sim_card.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "sim/model/power_encoding.h"
#include "sim/model/scenario_keys.h"

namespace crvmon::sim {
namespace {

void require(bool ok, const std::string& what) {
    if (!ok) throw std::invalid_argument(what);
}

void requireRange(std::uint64_t value, std::uint64_t max, const char* field) {
    require(value <= max, std::string(field) + " must be at most " + std::to_string(max) +
                              ", got " + std::to_string(value));
}

void requireFraction(double value, const char* field) {
    require(std::isfinite(value) && value >= 0 && value <= 1,
            std::string(field) + " must lie between 0 and 1");
}

void validatePower(const PowerMonitorConfig& monitor, const std::string& field) {
    try {
        encodePowerMonitor(monitor);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(field + ": " + e.what());
    }
}

}  // namespace

bool isKnownPowerChip(std::uint16_t chip) {
    switch (chip) {
        case power_chip::k5449:
        case power_chip::k2260:
        case power_chip::k2586:
        case power_chip::k49D2:
        case power_chip::k546E:
        case power_chip::kA480: return true;
        default: return false;
    }
}

bool isCardRegister(std::uint32_t address) {
    for (std::uint32_t known : kCardRegisters) {
        if (known == address) return true;
    }
    return false;
}

std::uint16_t subsystemVendorId(const OrvekCardConfig& config) {
    return static_cast<std::uint16_t>((config.firmware.major << 10) | config.firmware.minor);
}

std::uint16_t subsystemId(const OrvekCardConfig& config) {
    std::uint32_t memoryCode = 0;
    while ((2u << memoryCode) < config.memoryGiB) ++memoryCode;
    return static_cast<std::uint16_t>(memoryCode | (config.boardKind << 3) | (config.grade << 6) |
                                      (config.firmware.revision << 8) |
                                      (config.chipGeneration << 12));
}

std::optional<SubsystemIdFields> splitSubsystemId(std::uint16_t id) {
    if ((id >> 14) != 0) return std::nullopt;
    SubsystemIdFields fields;
    fields.memoryGiB = 2u << (id & 7u);
    fields.boardKind = (id >> 3) & 7u;
    fields.grade = (id >> 6) & 3u;
    fields.firmwareRevision = (id >> 8) & 15u;
    fields.chipGeneration = (id >> 12) & 3u;
    return fields;
}

bool reportsOwnPower(std::uint16_t chip) {
    return chip == power_chip::k5449 || chip == power_chip::k2586;
}

void validateCardConfig(const OrvekCardConfig& config) {
    validateKeys(config, orvekCardKeys());
    validatePower(config.boardPower, "boardPower");
    for (std::size_t i = 0; i < config.extraPower.size(); ++i) {
        if (config.extraPower[i])
            validatePower(*config.extraPower[i], "extraPower[" + std::to_string(i) + "]");
    }

    requireRange(config.firmware.major, 63, "firmware.major");
    requireRange(config.firmware.minor, 1023, "firmware.minor");
    if (config.firmware.patch) requireRange(*config.firmware.patch, 32767, "firmware.patch");
    const std::uint32_t memory = config.memoryGiB;
    require(memory >= 2 && memory <= 256 && (memory & (memory - 1)) == 0,
            "memoryGiB must be a power of two from 2 to 256, got " + std::to_string(memory));
    switch (config.location.kind) {
        case LocationKind::None: break;
        case LocationKind::SlotChain:
            require(!config.location.slots.empty() && config.location.slots.size() <= 7,
                    "location slot chain must hold 1 to 7 numbers");
            break;
        case LocationKind::PciAddress:
            requireRange(config.location.address.device, 31, "location device");
            requireRange(config.location.address.function, 7, "location function");
            break;
    }

    require(config.memoryUsedBytes <= (std::uint64_t{memory} << 30),
            "memoryUsedBytes exceeds the card's memory size");
    for (double load : config.load) requireFraction(load, "load");

    validateKeys(config.faults, orvekFaultKeys());
    for (const auto* list : {&config.faults.failingRegisters, &config.faults.failingWrites}) {
        for (std::uint32_t address : *list) {
            require(isCardRegister(address),
                    std::string(list == &config.faults.failingWrites ? "faults.failingWrites"
                                                                     : "faults.failingRegisters") +
                        " holds " + std::to_string(address) +
                        ", which is not a register of the card");
        }
    }
}

}  // namespace crvmon::sim
