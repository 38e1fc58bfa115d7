#include "lib/orvek/identity_block.h"

#include "lib/orvek/orvek_wire.h"

namespace crvmon::orvek {

using namespace wire;

MonitorInfo parseDeviceInfo(std::span<const std::uint8_t, 128> block) {
    const std::uint8_t* p = block.data();
    MonitorInfo info;
    info.vendorId = load16(p + device_info::kVendorId);
    info.deviceId = load16(p + device_info::kDeviceId);
    info.subVendorId = load16(p + device_info::kSubVendorId);
    info.subDeviceId = load16(p + device_info::kSubDeviceId);
    info.firmwareBuild = load32(p + device_info::kFirmwareBuild);
    info.reserved = load32(p + device_info::kReserved);
    info.pcieGen = p[device_info::kPcieGen];
    info.pcieLanes = p[device_info::kPcieLanes];
    info.pcieRev = p[device_info::kPcieRev];
    info.pcieClassCode = load32(p + device_info::kPcieClassCode);
    for (std::size_t i = 0; i < 4; ++i) {
        info.driverVersion[i] = load16(p + device_info::kDriverVersion + 2 * i);
    }
    info.locationKind = load16(p + device_info::kLocationKind);
    for (std::size_t i = 0; i < device_info::kLocationItems; ++i) {
        info.location[i] = load16(p + device_info::kLocation + 2 * i);
    }
    return info;
}

std::optional<MonitorInfo> parseLegacyTable(std::span<const std::uint8_t, 1040> table) {
    const std::uint8_t* p = table.data();
    const auto index = static_cast<std::int32_t>(load32(p + legacy_table::kIndex));
    // The index comes from the driver: one outside the table cannot name this card.
    if (index < 0 || static_cast<std::size_t>(index) >= legacy_table::kEntryCount) {
        return std::nullopt;
    }
    MonitorInfo info;
    for (std::size_t i = 0; i < 4; ++i) {
        info.driverVersion[i] = load16(p + legacy_table::kDriverVersion + 2 * i);
    }
    const std::uint8_t* entry =
        p + legacy_table::kEntries + static_cast<std::size_t>(index) * legacy_table::kEntrySize;
    const std::uint32_t ids = load32(entry + legacy_table::kVendorDevice);
    const std::uint32_t subIds = load32(entry + legacy_table::kSubVendorDevice);
    info.vendorId = static_cast<std::uint16_t>(ids);
    info.deviceId = static_cast<std::uint16_t>(ids >> 16);
    info.subVendorId = static_cast<std::uint16_t>(subIds);
    info.subDeviceId = static_cast<std::uint16_t>(subIds >> 16);
    info.pcieGen = entry[legacy_table::kPcieGen];
    info.pcieLanes = entry[legacy_table::kPcieLanes];
    info.pcieRev = entry[legacy_table::kPcieRev];
    // The table has no class code: all ones, as every value a card does not report.
    info.pcieClassCode = 0xFFFFFFFFu;
    return info;
}

std::uint32_t firmwareVersionCode(const MonitorInfo& info) {
    const std::uint32_t major = (info.subVendorId >> 10) & 0x3Fu;
    const std::uint32_t minor = info.subVendorId & 0x3FFu;
    const std::uint32_t patch =
        (info.firmwareBuild & 0x80000000u) != 0 ? (info.firmwareBuild >> 16) & 0x7FFFu : 0;
    // A minor above 255 spills into the major's bits, as the driver's own code does.
    return (major << 24) | (minor << 16) | patch;
}

}  // namespace crvmon::orvek
