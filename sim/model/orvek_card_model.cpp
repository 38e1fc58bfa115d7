#include "model/orvek_card_model.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "model/activity_ring.h"
#include "model/power_encoding.h"
#include "orvek/orvek_wire.h"

namespace crvmon::sim {
namespace wire = orvek::wire;
namespace {

constexpr std::uint32_t kHz = 1'000'000;

std::uint16_t subsystemVendorId(const OrvekCardConfig& config) {
    return static_cast<std::uint16_t>((config.firmware.major << 10) | config.firmware.minor);
}

std::uint16_t subsystemId(const OrvekCardConfig& config) {
    std::uint32_t memoryCode = 0;
    while ((2u << memoryCode) < config.memoryGiB) ++memoryCode;
    return static_cast<std::uint16_t>(memoryCode | (config.boardKind << 3) | (config.grade << 6) |
                                      (config.firmware.revision << 8) | (config.chipGeneration << 12));
}

std::uint32_t firmwareWord(const OrvekCardConfig& config) {
    if (!config.firmware.patch) return 0;
    return 0x80000000u | (*config.firmware.patch << 16);
}

std::vector<std::uint8_t> currentIdentityBlock(const OrvekCardConfig& config) {
    namespace info = wire::device_info;
    std::vector<std::uint8_t> block(info::kSize, 0);
    std::uint8_t* p = block.data();
    wire::store16(p + info::kVendorId, config.vendorId);
    wire::store16(p + info::kDeviceId, config.deviceId);
    wire::store16(p + info::kSubVendorId, subsystemVendorId(config));
    wire::store16(p + info::kSubDeviceId, subsystemId(config));
    wire::store32(p + info::kFirmwareBuild, firmwareWord(config));
    p[info::kPcieGen] = config.pcieGen;
    p[info::kPcieLanes] = config.pcieLanes;
    p[info::kPcieRev] = config.pcieRev;
    wire::store32(p + info::kPcieClassCode, config.pcieClassCode);
    for (std::size_t i = 0; i < 4; ++i) {
        wire::store16(p + info::kDriverVersion + 2 * i, config.driverVersion[i]);
    }

    const CardLocation& location = config.location;
    std::uint16_t header = 0;
    std::vector<std::uint16_t> items;
    switch (location.kind) {
        case LocationKind::None:
            break;
        case LocationKind::SlotChain:
            header = static_cast<std::uint16_t>(0x4000 | (location.slots.size() - 1));
            items = location.slots;
            break;
        case LocationKind::PciAddress:
            header = 0x8000;
            items = {location.address.domain, location.address.bus, location.address.device,
                     location.address.function};
            break;
    }
    wire::store16(p + info::kLocationKind, header);
    for (std::size_t i = 0; i < items.size(); ++i)
        wire::store16(p + info::kLocation + 2 * i, items[i]);
    return block;
}

std::vector<std::uint8_t> legacyIdentityTable(const OrvekCardConfig& config) {
    namespace table = wire::legacy_table;
    std::vector<std::uint8_t> bytes(table::kSize, 0);
    std::uint8_t* p = bytes.data();
    for (std::size_t i = 0; i < 4; ++i) {
        wire::store16(p + table::kDriverVersion + 2 * i, config.driverVersion[i]);
    }
    wire::store32(p + table::kIndex, static_cast<std::uint32_t>(config.legacyIndex));
    // An index outside the table is the fault itself: the card's entry is then nowhere.
    if (config.legacyIndex >= 0 && static_cast<std::size_t>(config.legacyIndex) < table::kEntryCount) {
        std::uint8_t* entry =
            p + table::kEntries + table::kEntrySize * static_cast<std::size_t>(config.legacyIndex);
        wire::store32(entry + table::kVendorDevice,
                      config.vendorId | (static_cast<std::uint32_t>(config.deviceId) << 16));
        wire::store32(
            entry + table::kSubVendorDevice,
            subsystemVendorId(config) | (static_cast<std::uint32_t>(subsystemId(config)) << 16));
        entry[table::kPcieGen] = config.pcieGen;
        entry[table::kPcieLanes] = config.pcieLanes;
        entry[table::kPcieRev] = config.pcieRev;
    }
    return bytes;
}

std::size_t registerIndex(std::uint32_t address) {
    const auto found = std::find(kCardRegisters.begin(), kCardRegisters.end(), address);
    return static_cast<std::size_t>(found - kCardRegisters.begin());
}

}  // namespace

OrvekCardModel::OrvekCardModel(OrvekCardConfig config, const SimClock& clock)
    : config_(std::move(config)), clock_(clock) {
    validateCardConfig(config_);

    namespace reg = wire::registers;
    *registerSlot(reg::kNpuClock) = config_.npuClockMHz * kHz;
    *registerSlot(reg::kBusClock) = config_.busClockMHz * kHz;
    *registerSlot(reg::kThermalStatus) = config_.temperatureC << 24;
    *registerSlot(reg::kBoardStatus) =
        config_.fanDutyPercent | (config_.chipId << 10) | (config_.switchTemperatureC << 24);
    *registerSlot(reg::kAuxStatus) = config_.auxStatus;
    const PowerWords board = encodePowerMonitor(config_.boardPower);
    *registerSlot(reg::kBoardPmicFirst) = board.first;
    *registerSlot(reg::kBoardPmicSecond) = board.second;

    std::uint32_t legacy = kPmicSelectLegacyBase;
    std::uint32_t current = kPmicSelectBase;
    if (selectorInNewRegister()) {
        current |= config_.extraPmicSelected;
    } else {
        legacy |= config_.extraPmicSelected << 28;
    }
    *registerSlot(reg::kPmicSelectLegacy) = legacy;
    *registerSlot(reg::kPmicSelect) = current;
    encodeSelectedExtraPmic(config_.extraPmicSelected);
}

bool OrvekCardModel::selectorInNewRegister() const {
    return config_.firmware.code() >= wire::kPmicSelectFirmware;
}

std::uint32_t OrvekCardModel::selectorOf(std::uint32_t address, std::uint32_t word) const {
    if (selectorInNewRegister()) {
        return address == wire::registers::kPmicSelect ? (word & 3u) : 4u;
    }
    return address == wire::registers::kPmicSelectLegacy ? ((word >> 28) & 3u) : 4u;
}

void OrvekCardModel::encodeSelectedExtraPmic(std::uint32_t selector) {
    PowerWords words;
    if (const auto& monitor = config_.extraPower[selector]) words = encodePowerMonitor(*monitor);
    *registerSlot(wire::registers::kExtraPmicFirst) = words.first;
    *registerSlot(wire::registers::kExtraPmicSecond) = words.second;
}

std::uint32_t* OrvekCardModel::registerSlot(std::uint32_t address) {
    const std::size_t index = registerIndex(address);
    return index < registers_.size() ? &registers_[index] : nullptr;
}

const std::uint32_t* OrvekCardModel::registerSlot(std::uint32_t address) const {
    const std::size_t index = registerIndex(address);
    return index < registers_.size() ? &registers_[index] : nullptr;
}

bool OrvekCardModel::registerFails(std::uint32_t address) const {
    const auto& failing = config_.faults.failingRegisters;
    return std::find(failing.begin(), failing.end(), address) != failing.end();
}

std::uint32_t OrvekCardModel::registerValue(std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    const std::uint32_t* slot = registerSlot(address);
    return slot ? *slot : 0;
}

std::uint32_t OrvekCardModel::selectedExtraPmic() const {
    std::lock_guard lock(mutex_);
    if (selectorInNewRegister()) return *registerSlot(wire::registers::kPmicSelect) & 3u;
    return (*registerSlot(wire::registers::kPmicSelectLegacy) >> 28) & 3u;
}

std::vector<std::uint8_t> OrvekCardModel::identityBytes() const {
    return config_.identityForm == IdentityForm::Current ? currentIdentityBlock(config_)
                                                       : legacyIdentityTable(config_);
}

std::vector<std::uint8_t> OrvekCardModel::usageReply() const {
    namespace usage = wire::usage_reply;
    const std::uint64_t now = clock_.nowMicroseconds();
    std::vector<std::uint8_t> reply(usage::kSize, 0);
    std::uint8_t* p = reply.data();
    wire::store64(p + usage::kTimestamp, now);
    wire::store64(p + usage::kMemoryUsed, config_.memoryUsedBytes);
    for (std::size_t core = 0; core < usage::kRingCount; ++core) {
        const ActivityRing ring = activityRing(config_, core, now);
        std::uint8_t* r = p + usage::kRings + usage::kRingSize * core;
        r[usage::kHead] = ring.head;
        r[usage::kCount] = ring.count;
        for (std::size_t i = 0; i < usage::kIntervalCount; ++i) {
            std::uint8_t* interval = r + usage::kIntervals + usage::kIntervalSize * i;
            wire::store64(interval, ring.intervals[i].start);
            wire::store64(interval + 8, ring.intervals[i].end);
        }
    }
    return reply;
}

ModelReply OrvekCardModel::answer(std::uint32_t code, std::span<const std::uint8_t> input,
                                  std::uint32_t outputCapacity) {
    switch (code) {
        case wire::kIoctlDeviceInfo:
            return answerIdentity(outputCapacity);
        case wire::kIoctlRegister:
            return answerRegister(input, outputCapacity);
        case wire::kIoctlUsage:
            return answerUsage(outputCapacity);
        default:
            return {};
    }
}

ModelReply OrvekCardModel::answerIdentity(std::uint32_t outputCapacity) const {
    if (config_.identityForm == IdentityForm::Current) {
        if (outputCapacity < wire::device_info::kSize) return {};
        return {currentIdentityBlock(config_)};
    }
    // The older driver transfers nothing unless the buffer holds its whole table.
    if (outputCapacity < wire::legacy_table::kSize) return {};
    std::vector<std::uint8_t> table = legacyIdentityTable(config_);
    if (config_.faults.legacyReplyLength) table.resize(*config_.faults.legacyReplyLength);
    return {std::move(table)};
}

ModelReply OrvekCardModel::answerRegister(std::span<const std::uint8_t> input,
                                          std::uint32_t outputCapacity) {
    namespace request = wire::register_request;
    if (input.size() != request::kSize) return {};
    const std::uint32_t operation = wire::load32(input.data() + request::kOperation);
    const std::uint32_t address = wire::load32(input.data() + request::kAddress);
    const std::uint32_t value = wire::load32(input.data() + request::kValue);

    std::lock_guard lock(mutex_);
    std::uint32_t* slot = registerSlot(address);
    if (!slot || registerFails(address)) return {};
    if (operation == request::kRead) {
        if (outputCapacity < 4) return {};
        ModelReply reply{std::vector<std::uint8_t>(4)};
        wire::store32(reply.output.data(), *slot);
        return reply;
    }
    if (operation == request::kWrite) {
        const std::uint32_t before = selectorOf(address, *slot);
        *slot = value;
        const std::uint32_t after = selectorOf(address, value);
        if (after != before) encodeSelectedExtraPmic(after);
        return {};
    }
    return {};
}

ModelReply OrvekCardModel::answerUsage(std::uint32_t outputCapacity) const {
    const std::uint32_t length = config_.faults.usageReplyLength;
    if (outputCapacity < length) return {};
    std::vector<std::uint8_t> reply = usageReply();
    reply.resize(length);
    return {std::move(reply)};
}

}  // namespace crvmon::sim
