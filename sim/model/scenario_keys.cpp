#include "sim/model/scenario_keys.h"

#include <climits>
#include <cstdio>

#include "sim/orvek/driver/orvek_sim_card.h"

namespace crvmon::sim {
namespace {

using namespace key_rows;
using Card = OrvekCardConfig;
using Device = VeltaraDeviceConfig;

constexpr auto kMaxMicros = static_cast<std::int64_t>(kMaxScenarioMicros);
constexpr auto kMaxMillis = static_cast<std::int64_t>(kMaxScenarioMillis);
constexpr auto kMaxInstances = static_cast<std::int64_t>(kMaxPipeInstances);

constexpr ScenarioKey<Card> firmwareRevision() {
    ScenarioKey<Card> key = composite<Card>("firmware_revision", "firmware.revision");
    key.kind = KeyKind::Integer;
    key.max = 15;
    key.integer = [](const Card& c) { return std::optional<std::int64_t>(c.firmware.revision); };
    key.setInteger = [](Card& c, std::int64_t v) {
        c.firmware.revision = static_cast<std::uint32_t>(v);
    };
    return key;
}

constexpr ScenarioKey<Card> kCardKeys[] = {
    integer<Card, &Card::deviceIndex>("device_index", "deviceIndex", 0, ORVEK_SIM_MAX_CARDS - 1),
    integer<Card, &Card::temperatureC>("temperature", "temperatureC", 0, 255, "degrees C"),
    integer<Card, &Card::switchTemperatureC>("switch_temperature", "switchTemperatureC", 0, 255,
                                             "degrees C"),
    // The register holds Hz.
    integer<Card, &Card::npuClockMHz>("npu_clock_mhz", "npuClockMHz", 0, 4294, "MHz"),
    integer<Card, &Card::busClockMHz>("bus_clock_mhz", "busClockMHz", 0, 4294, "MHz"),
    integer<Card, &Card::fanDutyPercent>("fan_duty", "fanDutyPercent", 0, 100, "%"),
    integer<Card, &Card::chipId>("chip_id", "chipId", 0, 3),
    integer<Card, &Card::auxStatus>("aux_status", "auxStatus", 0, 0xFFFFFFFF),
    composite<Card>("firmware", "firmware"),
    firmwareRevision(),
    composite<Card>("driver_version", "driverVersion"),
    integer<Card, &Card::vendorId>("vendor_id", "vendorId", 0, 0xFFFF, {}, KeyKind::HexInteger),
    integer<Card, &Card::deviceId>("device_id", "deviceId", 0, 0xFFFF, {}, KeyKind::HexInteger),
    // A power of two besides: the parser and validation check that.
    integer<Card, &Card::memoryGiB>("memory_gib", "memoryGiB", 2, 256, "GiB"),
    integer<Card, &Card::boardKind>("board_kind", "boardKind", 0, 7),
    integer<Card, &Card::grade>("grade", "grade", 0, 3),
    integer<Card, &Card::chipGeneration>("chip_generation", "chipGeneration", 0, 3),
    integer<Card, &Card::pcieGen>("pcie_gen", "pcieGen", 0, 255),
    integer<Card, &Card::pcieLanes>("pcie_lanes", "pcieLanes", 0, 255),
    integer<Card, &Card::pcieRev>("pcie_rev", "pcieRev", 0, 255),
    integer<Card, &Card::pcieClassCode>("pcie_class_code", "pcieClassCode", 0, 0xFFFFFFFF, {},
                                        KeyKind::HexInteger),
    composite<Card>("location", "location"),
    composite<Card>("identity_form", "identityForm"),
    integer<Card, &Card::legacyIndex>("legacy_index", "legacyIndex", INT32_MIN, INT32_MAX),
    integer<Card, &Card::memoryUsedBytes>("memory_used", "memoryUsedBytes", 0, INT64_MAX, "bytes"),
    composite<Card>("load", "load"),
    number<Card, &Card::loadWaveAmplitude>("load_wave_amplitude", "loadWaveAmplitude", 0, 1),
    number<Card, &Card::loadWavePeriodSeconds>("load_wave_period_s", "loadWavePeriodSeconds", 0.001,
                                               1e7, "s"),
    integer<Card, &Card::extraPmicSelected>("extra_pmic_selected", "extraPmicSelected", 0, 3),
    composite<Card>("board_power", "boardPower"),
    composite<Card>("extra_power", "extraPower"),
    composite<Card>("faults", "faults"),
};

using CardFaults = OrvekCardFaults;
constexpr ScenarioKey<CardFaults> kCardFaultKeys[] = {
    // Below the 1040 bytes of the whole table.
    integer<CardFaults, &CardFaults::legacyReplyLength>(
        "legacy_reply_length", "faults.legacyReplyLength", 0, 1039, "bytes"),
    composite<CardFaults>("failing_registers", "faults.failingRegisters"),
    composite<CardFaults>("failing_writes", "faults.failingWrites"),
    integer<CardFaults, &CardFaults::usageReplyLength>(
        "usage_reply_length", "faults.usageReplyLength", 0, 10352, "bytes"),
};

using Monitor = PowerMonitorConfig;
constexpr ScenarioKey<Monitor> kMonitorKeys[] = {
    // One of the power_chip identifiers besides: the parser checks that.
    integer<Monitor, &Monitor::chip>("chip", "chip", 0, 0xFFFF, {}, KeyKind::HexInteger),
    number<Monitor, &Monitor::volts>("volts", "volts", 0, 1e9, "V", KeyKind::Reading),
    number<Monitor, &Monitor::amps>("amps", "amps", 0, 1e9, "A", KeyKind::Reading),
    number<Monitor, &Monitor::watts>("watts", "watts", 0, 1e9, "W", KeyKind::Reading),
};

constexpr ScenarioKey<Device> kDeviceKeys[] = {
    integer<Device, &Device::devNo>("dev_no", "devNo", INT32_MIN, INT32_MAX),
    composite<Device>("name", "name"),
    composite<Device>("kind", "flags"),
    composite<Device>("flags", "flags"),
    composite<Device>("driver_version", "driverVersion"),
    composite<Device>("host_driver_version", "hostDriverVersion"),
    integer<Device, &Device::hostRevision>("host_revision", "hostRevision", 0, 0xFFFF),
    integer<Device, &Device::memoryPages>("memory_pages", "memoryPages", 0, 0xFFFFFFFF, "pages",
                                          KeyKind::HexInteger),
    // At most memory_pages besides: the parser and validation check that.
    integer<Device, &Device::pagesInUse>("pages_in_use", "pagesInUse", 0, 0xFFFFFFFF, "pages",
                                         KeyKind::HexInteger),
    integer<Device, &Device::signalType>("signal_type", "signalType", INT32_MIN, INT32_MAX),
    integer<Device, &Device::temperatureMilliC>("temperature_mc", "temperatureMilliC", INT32_MIN,
                                                INT32_MAX, "milli-degrees C"),
    integer<Device, &Device::npuClockMHz>("npu_clock_mhz", "npuClockMHz", INT32_MIN, INT32_MAX,
                                          "MHz"),
    composite<Device>("version", "version"),
    composite<Device>("activity_head", "activityHead"),
    composite<Device>("work", "work"),
    composite<Device>("process", "processes"),
    composite<Device>("faults", "faults"),
};

using Work = VeltaraWorkConfig;
constexpr ScenarioKey<Work> kWorkKeys[] = {
    integer<Work, &Work::pid>("pid", "pid", INT32_MIN, INT32_MAX),
    integer<Work, &Work::startUs>("start_us", "startUs", 0, kMaxMicros, "us"),
    integer<Work, &Work::periodUs>("period_us", "periodUs", 1, kMaxMicros, "us"),
    // At most period_us besides, and stop_us after start_us: the parser and validation check.
    integer<Work, &Work::busyUs>("busy_us", "busyUs", 0, kMaxMicros, "us"),
    integer<Work, &Work::stopUs>("stop_us", "stopUs", 1, kMaxMicros, "us"),
};

using Process = VeltaraProcessRow;
constexpr ScenarioKey<Process> kProcessKeys[] = {
    integer<Process, &Process::pid>("pid", "pid", INT32_MIN, INT32_MAX),
    integer<Process, &Process::count>("count", "count", 0, 0xFFFFFFFF),
    integer<Process, &Process::amount>("amount", "amount", 0, INT64_MAX),
    composite<Process>("name", "name"),
};

using DeviceFaults = VeltaraDeviceFaults;
constexpr ScenarioKey<DeviceFaults> kDeviceFaultKeys[] = {
    integer<DeviceFaults, &DeviceFaults::busyMs>("busy_ms", "faults.busyMs", 0, kMaxMillis, "ms"),
    integer<DeviceFaults, &DeviceFaults::brokenAfterRequests>(
        "broken_after_requests", "faults.brokenAfterRequests", 0, 0xFFFFFFFF),
    composite<DeviceFaults>("reply_length", "faults.replyLength"),
    composite<DeviceFaults>("status", "faults.status"),
    composite<DeviceFaults>("endless_snapshot", "faults.endlessSnapshot"),
    composite<DeviceFaults>("silent", "faults.silent"),
};

using Service = VeltaraServiceConfig;
constexpr ScenarioKey<Service> kServiceKeys[] = {
    integer<Service, &Service::pipeInstances>("pipe_instances", "pipeInstances", 1, kMaxInstances),
    integer<Service, &Service::brokerInstances>("broker_instances", "brokerInstances", 1,
                                                kMaxInstances),
    integer<Service, &Service::absentMs>("absent_ms", "absentMs", 0, kMaxMillis, "ms"),
    integer<Service, &Service::brokerBusyMs>("broker_busy_ms", "brokerBusyMs", 0, kMaxMillis, "ms"),
    integer<Service, &Service::listCount>("list_count", "listCount", 0, 0xFFFFFFFF),
    integer<Service, &Service::listExtraEntries>("list_extra_entries", "listExtraEntries", 0,
                                                 kMaxListExtraEntries),
    integer<Service, &Service::listReplyLength>("list_reply_length", "listReplyLength", 0,
                                                kMaxReplyLength, "bytes"),
};

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

}  // namespace

ScenarioKeys<OrvekCardConfig> orvekCardKeys() {
    return kCardKeys;
}
ScenarioKeys<OrvekCardFaults> orvekFaultKeys() {
    return kCardFaultKeys;
}
ScenarioKeys<PowerMonitorConfig> powerMonitorKeys() {
    return kMonitorKeys;
}
ScenarioKeys<VeltaraDeviceConfig> veltaraDeviceKeys() {
    return kDeviceKeys;
}
ScenarioKeys<VeltaraWorkConfig> veltaraWorkKeys() {
    return kWorkKeys;
}
ScenarioKeys<VeltaraProcessRow> veltaraProcessKeys() {
    return kProcessKeys;
}
ScenarioKeys<VeltaraDeviceFaults> veltaraFaultKeys() {
    return kDeviceFaultKeys;
}
ScenarioKeys<VeltaraServiceConfig> veltaraServiceKeys() {
    return kServiceKeys;
}

std::optional<PciAddress> pciAddressFromText(std::string_view text) {
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.') {
        return std::nullopt;
    }
    std::uint32_t domain = 0, bus = 0, device = 0, function = 0;
    if (!parseUnsigned(text.substr(0, 4), 16, 4, domain) ||
        !parseUnsigned(text.substr(5, 2), 16, 2, bus) ||
        !parseUnsigned(text.substr(8, 2), 16, 2, device) ||
        !parseUnsigned(text.substr(11, 1), 16, 1, function) || device > 31 || function > 7) {
        return std::nullopt;
    }
    return PciAddress{static_cast<std::uint16_t>(domain), static_cast<std::uint8_t>(bus),
                      static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(function)};
}

std::optional<FirmwareVersion> firmwareFromText(std::string_view text) {
    std::uint32_t parts[3] = {};
    std::size_t count = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        if (count == 3 || !parseUnsigned(text.substr(0, dot), 10, 0, parts[count])) {
            return std::nullopt;
        }
        ++count;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    if (count < 2 || parts[0] > 63 || parts[1] > 1023 || (count == 3 && parts[2] > 32767)) {
        return std::nullopt;
    }
    FirmwareVersion firmware;
    firmware.major = parts[0];
    firmware.minor = parts[1];
    firmware.patch = count == 3 ? std::optional<std::uint32_t>(parts[2]) : std::nullopt;
    return firmware;
}

std::string firmwareText(const FirmwareVersion& firmware) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + std::string at -O3.
    std::string text = std::to_string(firmware.major);
    text += '.';
    text += std::to_string(firmware.minor);
    if (firmware.patch) {
        text += '.';
        text += std::to_string(*firmware.patch);
    }
    return text;
}

std::string pciAddressText(const PciAddress& address) {
    char text[24];
    std::snprintf(text, sizeof text, "%04X:%02X:%02X.%X", address.domain, address.bus,
                  address.device, address.function);
    return text;
}

}  // namespace crvmon::sim
