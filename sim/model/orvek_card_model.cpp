#include "sim/model/orvek_card_model.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "lib/orvek/orvek_wire.h"
#include "sim/model/activity_ring.h"
#include "sim/model/power_encoding.h"

namespace crvmon::sim {
namespace wire = orvek::wire;

// The card logic is C, shared with the kernel-mode driver, and writes the wire's names, codes
// and sizes again: they must be the library's.
static_assert(std::string_view(ORVEK_SIM_DEVICE_BASE_NAME) == wire::kDeviceObjectBase);
static_assert(ORVEK_SIM_IOCTL_DEVICE_INFO == wire::kIoctlDeviceInfo);
static_assert(ORVEK_SIM_IOCTL_REGISTER == wire::kIoctlRegister);
static_assert(ORVEK_SIM_IOCTL_USAGE == wire::kIoctlUsage);
static_assert(ORVEK_SIM_REGISTER_REQUEST_SIZE == wire::register_request::kSize);
static_assert(ORVEK_SIM_REGISTER_READ == wire::register_request::kRead);
static_assert(ORVEK_SIM_REGISTER_WRITE == wire::register_request::kWrite);
static_assert(ORVEK_SIM_IDENTITY_MAX == wire::legacy_table::kSize);
static_assert(ORVEK_SIM_USAGE_MAX == wire::usage_reply::kSize);

namespace {

constexpr std::uint32_t kHz = 1'000'000;

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
        case LocationKind::None: break;
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
    if (config.legacyIndex >= 0 &&
        static_cast<std::size_t>(config.legacyIndex) < table::kEntryCount) {
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

}  // namespace

OrvekCardModel::OrvekCardModel(OrvekCardConfig config, const SimClock& clock)
    : config_(std::move(config)), clock_(clock) {
    validateCardConfig(config_);
    image_ = buildImage();
    const std::vector<std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(&image_),
                                          reinterpret_cast<const std::uint8_t*>(&image_ + 1));
    if (orvek_sim_card_load(&card_, bytes.data(), bytes.size()) != 0) {
        throw std::invalid_argument("the card's driver image breaks a bound");
    }
}

orvek_sim_card_image OrvekCardModel::buildImage() const {
    namespace reg = wire::registers;
    orvek_sim_card_image image{};
    image.device_index = static_cast<std::uint32_t>(config_.deviceIndex);

    const std::vector<std::uint8_t> identity = identityBytes();
    std::copy(identity.begin(), identity.end(), image.identity);
    if (config_.identityForm == IdentityForm::Current) {
        image.identity_capacity = static_cast<std::uint32_t>(wire::device_info::kSize);
        image.identity_length = static_cast<std::uint32_t>(wire::device_info::kSize);
    } else {
        // The older driver transfers nothing unless the buffer holds its whole table.
        image.identity_capacity = static_cast<std::uint32_t>(wire::legacy_table::kSize);
        image.identity_length = config_.faults.legacyReplyLength.value_or(
            static_cast<std::uint32_t>(wire::legacy_table::kSize));
    }

    std::array<std::uint32_t, kCardRegisters.size()> words{};
    const auto set = [&](std::uint32_t address, std::uint32_t value) {
        const auto found = std::find(kCardRegisters.begin(), kCardRegisters.end(), address);
        words[static_cast<std::size_t>(found - kCardRegisters.begin())] = value;
    };
    set(reg::kNpuClock, config_.npuClockMHz * kHz);
    set(reg::kBusClock, config_.busClockMHz * kHz);
    set(reg::kThermalStatus, config_.temperatureC << 24);
    set(reg::kBoardStatus,
        config_.fanDutyPercent | (config_.chipId << 10) | (config_.switchTemperatureC << 24));
    set(reg::kAuxStatus, config_.auxStatus);
    const PowerWords board = encodePowerMonitor(config_.boardPower);
    set(reg::kBoardPmicFirst, board.first);
    set(reg::kBoardPmicSecond, board.second);

    for (std::size_t selector = 0; selector < 4; ++selector) {
        PowerWords extra;
        // Whether the optional holds a chip, not an assignment.
        // cppcheck-suppress assignmentInCondition
        if (const auto& monitor = config_.extraPower[selector])
            extra = encodePowerMonitor(*monitor);
        image.extra_words[selector][0] = extra.first;
        image.extra_words[selector][1] = extra.second;
    }
    image.extra_first_address = reg::kExtraPmicFirst;
    image.extra_second_address = reg::kExtraPmicSecond;
    std::uint32_t legacy = kPmicSelectLegacyBase;
    std::uint32_t current = kPmicSelectBase;
    if (selectorInNewRegister()) {
        current |= config_.extraPmicSelected;
        image.selector_address = reg::kPmicSelect;
        image.selector_shift = 0;
    } else {
        legacy |= config_.extraPmicSelected << 28;
        image.selector_address = reg::kPmicSelectLegacy;
        image.selector_shift = 28;
    }
    set(reg::kPmicSelectLegacy, legacy);
    set(reg::kPmicSelect, current);
    set(reg::kExtraPmicFirst, image.extra_words[config_.extraPmicSelected][0]);
    set(reg::kExtraPmicSecond, image.extra_words[config_.extraPmicSelected][1]);

    const auto listed = [](const std::vector<std::uint32_t>& addresses, std::uint32_t address) {
        return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
    };
    image.register_count = static_cast<std::uint32_t>(kCardRegisters.size());
    for (std::size_t i = 0; i < kCardRegisters.size(); ++i) {
        image.registers[i].address = kCardRegisters[i];
        image.registers[i].value = words[i];
        image.registers[i].fails =
            (listed(config_.faults.failingRegisters, kCardRegisters[i]) ? ORVEK_SIM_REGISTER_SILENT
                                                                        : 0u) |
            (listed(config_.faults.failingWrites, kCardRegisters[i])
                 ? ORVEK_SIM_REGISTER_REFUSES_WRITES
                 : 0u);
    }
    image.usage_length = config_.faults.usageReplyLength;
    return image;
}

bool OrvekCardModel::selectorInNewRegister() const {
    // A card of the older identity form tells the library no firmware version, so the library
    // takes it for firmware below 1.2.4: such a card keeps its selector where those do.
    return config_.identityForm == IdentityForm::Current &&
           config_.firmware.code() >= wire::kPmicSelectFirmware;
}

std::uint32_t OrvekCardModel::registerValue(std::uint32_t address) const {
    std::lock_guard lock(mutex_);
    return orvek_sim_card_register(&card_, address);
}

std::uint32_t OrvekCardModel::selectedExtraPmic() const {
    std::lock_guard lock(mutex_);
    return (orvek_sim_card_register(&card_, image_.selector_address) >> image_.selector_shift) & 3u;
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
    std::vector<std::uint8_t> output(std::min<std::uint32_t>(outputCapacity, ORVEK_SIM_USAGE_MAX));
    std::lock_guard lock(mutex_);
    if (code == wire::kIoctlUsage) {
        // In process the rings are sampled at the moment of the request.
        const std::vector<std::uint8_t> usage = usageReply();
        orvek_sim_card_set_usage(&card_, usage.data(), usage.size());
    }
    const long transferred =
        orvek_sim_card_answer(&card_, code, input.data(), static_cast<std::uint32_t>(input.size()),
                              output.data(), static_cast<std::uint32_t>(output.size()));
    output.resize(transferred > 0 ? static_cast<std::size_t>(transferred) : 0);
    return {std::move(output), transferred == ORVEK_SIM_REQUEST_FAILED};
}

}  // namespace crvmon::sim
