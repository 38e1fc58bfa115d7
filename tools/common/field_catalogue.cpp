#include "tools/common/field_catalogue.h"

#include <cstdio>
#include <stdexcept>

namespace crvmon::tools {

namespace {

template <class T>
FieldValue valueOf(const std::optional<T>& value) {
    if (!value) return std::monostate{};
    if constexpr (std::is_same_v<T, std::string>) {
        return *value;
    } else if constexpr (std::is_floating_point_v<T>) {
        return static_cast<double>(*value);
    } else {
        return static_cast<long long>(*value);
    }
}

template <class T>
FieldValue listOf(const std::optional<std::vector<T>>& list) {
    if (!list) return std::monostate{};
    return *list;
}

#define FIELD(member) [](const DeviceSample& s) { return valueOf(s.member); }

using enum FieldKind;

const std::vector<Field> kFields{
    // Which device.
    {"id", "", Text, 0, kBothFamilies, 0, "target type and index, as --id takes it",
     [](const DeviceSample& s) -> FieldValue { return formatDeviceId(s.id); }},
    {"family", "", Text, 0, kBothFamilies, 0, "Orvek or Veltara",
     [](const DeviceSample& s) -> FieldValue { return std::string(familyName(s.family)); }},
    {"type", "", Integer, 0, kBothFamilies, 0, "target device type (1-6)",
     [](const DeviceSample& s) -> FieldValue { return static_cast<long long>(s.id.type); }},
    {"index", "", Integer, 0, kBothFamilies, 0, "index within the target type",
     [](const DeviceSample& s) -> FieldValue { return static_cast<long long>(s.id.index); }},
    {"timestamp", "", Text, 0, kBothFamilies, 0, "when the read began, UTC, ISO 8601",
     [](const DeviceSample& s) -> FieldValue { return s.readAt; }},
    {"node", "", Text, 0, kBothFamilies, 0, "node path the device was opened under", FIELD(node)},

    // Identity.
    {"driver.type", "", Integer, 0, kBothFamilies, kReadIdentity,
     "driver stack: 1 Orvek, 2 Veltara NPU, 4 Veltara USB", FIELD(driverType)},
    {"pci.vendor_id", "", Hex, 4, kOrvek, kReadIdentity, "PCI vendor id", FIELD(vendorId)},
    {"pci.device_id", "", Hex, 4, kOrvek, kReadIdentity, "PCI device id", FIELD(deviceId)},
    {"pci.sub_vendor_id", "", Hex, 4, kOrvek, kReadIdentity, "PCI subsystem vendor id",
     FIELD(subVendorId)},
    {"pci.sub_device_id", "", Hex, 4, kOrvek, kReadIdentity, "PCI subsystem id",
     FIELD(subDeviceId)},
    {"pcie.gen", "", Integer, 0, kOrvek, kReadIdentity, "PCI Express link generation",
     FIELD(pcieGen)},
    {"pcie.lanes", "", Integer, 0, kOrvek, kReadIdentity, "PCI Express lane count",
     FIELD(pcieLanes)},
    {"pcie.rev", "", Integer, 0, kOrvek, kReadIdentity, "PCI Express revision", FIELD(pcieRev)},
    {"pcie.class_code", "", Hex, 6, kOrvek, kReadIdentity, "PCI class code", FIELD(pcieClassCode)},
    {"pcie.slot", "", Text, 0, kOrvek, kReadIdentity,
     "PCI address (0000:03:00.0) or slot chain (1-4-2)", FIELD(pcieSlot)},
    {"signal_type", "", Integer, 0, kBothFamilies, kReadIdentity, "signal type", FIELD(signalType)},
    {"chip_id", "", Integer, 0, kOrvek, kReadIdentity, "chip id (0-3)", FIELD(chipId)},

    // Versions.
    {"driver.version", "", Text, 0, kBothFamilies, kReadVersions,
     "version of the device's driver type", FIELD(driverVersion)},
    {"driver.revision", "", Integer, 0, kBothFamilies, kReadVersions,
     "revision of the device's driver type", FIELD(driverRevision)},
    {"firmware.version", "", Text, 0, kOrvek, kReadVersions, "firmware version",
     FIELD(firmwareVersion)},
    {"firmware.revision", "", Integer, 0, kOrvek, kReadVersions, "firmware revision",
     FIELD(firmwareRevision)},
    {"firmware.crc", "", Hex, 4, kOrvek, kReadVersions, "firmware CRC", FIELD(firmwareCrc)},
    {"device_driver.version", "", Text, 0, kVeltara, kReadVersions,
     "version of the driver running on the device", FIELD(onDeviceDriverVersion)},
    {"device_driver.revision", "", Integer, 0, kVeltara, kReadVersions,
     "revision of the driver running on the device", FIELD(onDeviceDriverRevision)},

    // Clocks and thermal.
    {"clocks.npu", "MHz", Integer, 0, kBothFamilies, kReadClocks,
     "NPU clock (Veltara: the host service's number, unscaled)", FIELD(npuClockMHz), kBothFamilies},
    {"clocks.bus", "MHz", Integer, 0, kOrvek, kReadClocks, "bus clock", FIELD(busClockMHz), kOrvek},
    {"temperature.chip", "C", Integer, 0, kBothFamilies, kReadThermal, "chip temperature",
     FIELD(temperatureC), kBothFamilies},
    {"temperature.pcie_switch", "C", Integer, 0, kOrvek, kReadThermal,
     "PCI Express switch temperature", FIELD(switchTemperatureC), kOrvek},
    {"fan.duty", "%", Integer, 0, kOrvek, kReadThermal, "fan duty", FIELD(fanDutyPercent), kOrvek},

    // Power.
    {"power.draw", "W", Real, 2, kOrvek, kReadPower, "board power", FIELD(boardPowerW), kOrvek},
    {"power.current", "A", Real, 3, kOrvek, kReadPower, "board current", FIELD(boardCurrentA),
     kOrvek},
    {"power.voltage", "V", Real, 3, kOrvek, kReadPower, "board voltage", FIELD(boardVoltageV),
     kOrvek},
    {"extra_pmic.id", "", Integer, 0, kOrvek, kReadExtraPmic,
     "which extra power monitor the extra_pmic readings come from (0-3)", FIELD(extraPmicId),
     kOrvek},
    {"extra_pmic.power", "W", Real, 2, kOrvek, kReadExtraPmic, "extra power monitor's power",
     FIELD(extraPmicPowerW), kOrvek},
    {"extra_pmic.current", "A", Real, 3, kOrvek, kReadExtraPmic, "extra power monitor's current",
     FIELD(extraPmicCurrentA), kOrvek},
    {"extra_pmic.voltage", "V", Real, 3, kOrvek, kReadExtraPmic, "extra power monitor's voltage",
     FIELD(extraPmicVoltageV), kOrvek},

    // Memory and load.
    {"memory.total", "B", Integer, 0, kBothFamilies, kReadMemory, "device memory",
     FIELD(memoryTotalBytes)},
    {"memory.used", "B", Integer, 0, kBothFamilies, kReadMemory, "device memory in use",
     FIELD(memoryUsedBytes), kBothFamilies},
    {"utilization", "%", Real, 1, kBothFamilies, kReadUtilization,
     "average busy share of the cores", FIELD(utilizationPercent), kBothFamilies},
    {"cores", "", Cores, 0, kBothFamilies, kReadCores,
     "busy share per core: CLUSTER.CORE=PERCENT, CLUSTER.all for the whole cluster",
     [](const DeviceSample& s) { return listOf(s.cores); }, kBothFamilies},
    {"processes", "", Processes, 0, kVeltara, kReadProcesses,
     "processes on the device: PID:BUSY%:QUANTITY:AMOUNT",
     [](const DeviceSample& s) { return listOf(s.processes); }, kVeltara},
};

#undef FIELD

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string percentText(const std::optional<double>& percent) {
    return percent ? formatted("%.1f%%", *percent) : "N/A";
}

}  // namespace

const std::vector<Field>& fieldCatalogue() {
    return kFields;
}

unsigned familyBit(Family family) {
    switch (family) {
        case Family::Orvek: return kOrvek;
        case Family::Veltara: return kVeltara;
        case Family::Unknown: break;
    }
    return 0;
}

bool alwaysProvided(const Field& field, Family family) {
    return (field.always & familyBit(family)) != 0;
}

const Field* findField(std::string_view name) {
    for (const Field& field : kFields) {
        if (name == field.name) return &field;
    }
    return nullptr;
}

std::vector<const Field*> parseFieldList(std::string_view list) {
    std::vector<const Field*> fields;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view name = list.substr(start, end - start);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (name == "all") {
            for (const Field& field : kFields) fields.push_back(&field);
        } else if (const Field* field = findField(name)) {
            fields.push_back(field);
        } else {
            throw std::invalid_argument(name.empty() ? "empty field name in the list"
                                                     : "unknown field '" + std::string(name) +
                                                           "' (see --list-fields)");
        }
        start = end + 1;
    }
    return fields;
}

unsigned readGroupsOf(const std::vector<const Field*>& fields) {
    unsigned groups = 0;
    for (const Field* field : fields) groups |= field->groups;
    return groups;
}

std::string coreListText(const std::vector<CoreLoad>& cores) {
    std::string text;
    for (const CoreLoad& core : cores) {
        if (!text.empty()) text += ' ';
        text += core.cluster ? std::to_string(*core.cluster) : "?";
        text += '.';
        text += core.core ? std::to_string(*core.core) : (core.cluster ? "all" : "?");
        text += '=';
        text += percentText(core.busyPercent());
    }
    return text;
}

std::string processListText(const std::vector<ProcessLoad>& processes) {
    std::string text;
    for (const ProcessLoad& p : processes) {
        if (!text.empty()) text += ' ';
        text += std::to_string(p.pid) + ':' + percentText(p.busyPercent()) + ':' +
                std::to_string(p.quantity) + ':' + std::to_string(p.amount);
    }
    return text;
}

std::string fieldText(const Field& field, const FieldValue& value, bool withUnit) {
    std::string text;
    if (std::holds_alternative<std::monostate>(value)) return "N/A";
    if (const auto* number = std::get_if<long long>(&value)) {
        if (field.kind == FieldKind::Hex) {
            char hex[32];
            std::snprintf(hex, sizeof hex, "0x%0*llX", field.digits, *number);
            text = hex;
        } else {
            text = std::to_string(*number);
        }
    } else if (const auto* real = std::get_if<double>(&value)) {
        char out[64];
        std::snprintf(out, sizeof out, "%.*f", field.digits, *real);
        text = out;
    } else if (const auto* words = std::get_if<std::string>(&value)) {
        text = *words;
    } else if (const auto* cores = std::get_if<std::vector<CoreLoad>>(&value)) {
        text = coreListText(*cores);
    } else if (const auto* processes = std::get_if<std::vector<ProcessLoad>>(&value)) {
        text = processListText(*processes);
    }
    if (withUnit && *field.unit != '\0') {
        text += ' ';
        text += field.unit;
    }
    return text;
}

const char* familiesText(unsigned families) {
    switch (families) {
        case kOrvek: return "Orvek";
        case kVeltara: return "Veltara";
        default: return "both";
    }
}

}  // namespace crvmon::tools
