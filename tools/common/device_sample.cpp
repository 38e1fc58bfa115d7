#include "tools/common/device_sample.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include "tools/common/field_catalogue.h"
#include "tools/common/process_names.h"
#include "tools/common/utc_time.h"

#include <string>
#include <vector>

namespace crvmon::tools {

namespace {

constexpr unsigned kNoRevision = 0xffffffffu;

// The statuses that mean "this device has no such value": shown as absent, not as a failure.
bool isAbsence(crvmonStatusCode_t status) {
    return status == CRVMON_STATUS_NOT_SUPPORTED || status == CRVMON_STATUS_DRIVER_NOT_FOUND;
}

class Reader {
  public:
    explicit Reader(DeviceSample& sample) : sample_(sample), id_(sample.id) {}

    // A getter with one value slot; enums are kept as their numbers.
    template <class Slot, class Out>
    void value(std::optional<Slot>& slot, const char* what,
               crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, Out*)) {
        Out out{};
        if (keep(getter(id_.type, id_.index, &out), what)) slot = static_cast<Slot>(out);
    }

    void text(std::optional<std::string>& slot, const char* what,
              crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, char*, unsigned)) {
        std::string buffer(256, '\0');
        crvmonStatusCode_t status = CRVMON_STATUS_BUFFER_TOO_SMALL;
        // A text longer than the buffer is asked for again in a larger one.
        for (int attempt = 0; attempt < 4 && status == CRVMON_STATUS_BUFFER_TOO_SMALL; ++attempt) {
            status =
                getter(id_.type, id_.index, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (status == CRVMON_STATUS_BUFFER_TOO_SMALL) buffer.resize(buffer.size() * 16);
        }
        if (keep(status, what)) slot = std::string(buffer.c_str());
    }

    // The two-call record arrays: ask for the count, then read; the count may grow in between.
    template <class Record>
    std::optional<std::vector<Record>> records(
        const char* what,
        crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, Record*, unsigned*)) {
        crvmonStatusCode_t status = CRVMON_STATUS_BUFFER_TOO_SMALL;
        std::vector<Record> out;
        for (int attempt = 0; attempt < 4 && status == CRVMON_STATUS_BUFFER_TOO_SMALL; ++attempt) {
            unsigned count = 0;
            status = getter(id_.type, id_.index, nullptr, &count);
            if (status != CRVMON_STATUS_OK) break;
            if (count == 0) {
                out.clear();
                break;
            }
            out.assign(count, Record{});
            status = getter(id_.type, id_.index, out.data(), &count);
            if (status == CRVMON_STATUS_OK) out.resize(count);
        }
        if (!keep(status, what)) return std::nullopt;
        return out;
    }

    // A read of the catalogue's field `name` that failed is an error, unless the status only
    // says the device has no such value; "not provided" for a value the device's family always
    // has means the backend failed to deliver it, which is reported like any other failure.
    bool keep(crvmonStatusCode_t status, const char* name) {
        if (status == CRVMON_STATUS_OK) return true;
        const Field* field = findField(name);
        const bool always = field != nullptr && alwaysProvided(*field, sample_.family);
        if (!isAbsence(status) || (always && status == CRVMON_STATUS_NOT_SUPPORTED)) {
            sample_.errors.push_back({name, status});
        }
        return false;
    }

  private:
    DeviceSample& sample_;
    DeviceId id_;
};

CoreLoad coreLoad(const crvmonCoreInfo_t& info) {
    CoreLoad load;
    if (info.cluster != CRVMON_CLUSTER_NONE && (info.cluster & 0xffffu) == 0 && info.cluster != 0) {
        load.cluster = static_cast<int>(info.cluster >> 16) - 1;
    }
    if (info.core != CRVMON_CORE_WHOLE_CLUSTER && info.core != CRVMON_CORE_NONE) {
        load.core = static_cast<int>(info.core);
    }
    load.busyTime = info.busyTime;
    load.totalTime = info.totalTime;
    return load;
}

// busy x scale / total with one rounding: scale 1 for a ratio, 100 for a percentage.
std::optional<double> share(std::int64_t busy, std::int64_t total, double scale) {
    if (total <= 0) return std::nullopt;
    return scale * static_cast<double>(busy) / static_cast<double>(total);
}

// The library keeps power readings as single-precision floats and widens them: 0.85 V arrives
// as 0.8500000238418579. The double nearest the float's shortest text (0.85) reads back as the
// same float, so every output prints the library's value as the library would.
void asFloatReading(std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) return;
    const auto single = static_cast<float>(*value);
    if (static_cast<double>(single) != *value) return;  // not a widened float: kept as it is
    char text[32];
    const char* end = std::to_chars(text, text + sizeof text, single).ptr;
    double shortest = *value;
    if (std::from_chars(text, end, shortest).ec == std::errc()) value = shortest;
}

void readDriver(DeviceSample& sample, Reader& reader) {
    if (!sample.driverType) {
        reader.value(sample.driverType, "driver.type", crvmonGetDriverType);
        if (!sample.driverType) return;
    }
    const auto type = static_cast<crvmonDriverType_t>(*sample.driverType);
    std::string buffer(256, '\0');
    crvmonStatusCode_t status =
        crvmonGetDriverVersion(type, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (reader.keep(status, "driver.version")) sample.driverVersion = std::string(buffer.c_str());
    unsigned revision = 0;
    status = crvmonGetDriverRevision(type, &revision);
    if (reader.keep(status, "driver.revision") && revision != kNoRevision) {
        sample.driverRevision = revision;
    }
}

}  // namespace

std::optional<double> CoreLoad::busyPercent() const {
    return share(busyTime, totalTime, 100.0);
}

std::optional<double> CoreLoad::busyRatio() const {
    return share(busyTime, totalTime, 1.0);
}

bool CoreLoad::wholeCluster() const {
    return cluster.has_value() && !core.has_value();
}

std::optional<double> ProcessLoad::busyPercent() const {
    return share(busyTime, totalTime, 100.0);
}

std::optional<double> ProcessLoad::busyRatio() const {
    return share(busyTime, totalTime, 1.0);
}

std::vector<DriverVersion> driverVersions() {
    struct Driver {
        crvmonDriverType_t type;
        const char* name;
    };
    constexpr Driver kDrivers[] = {{CRVMON_DRIVER_ORVEK, "Orvek"},
                                   {CRVMON_DRIVER_VELTARA_NPU, "Veltara NPU"},
                                   {CRVMON_DRIVER_VELTARA_USB, "Veltara USB"}};
    std::vector<DriverVersion> versions;
    for (const Driver& driver : kDrivers) {
        char text[64] = "";
        if (crvmonGetDriverVersion(driver.type, text, sizeof text) != CRVMON_STATUS_OK) continue;
        unsigned revision = 0;
        std::optional<unsigned> known;
        if (crvmonGetDriverRevision(driver.type, &revision) == CRVMON_STATUS_OK &&
            revision != kNoRevision) {
            known = revision;
        }
        versions.push_back({driver.name, driver.type, text, known});
    }
    return versions;
}

std::string statusText(crvmonStatusCode_t status) {
    return crvmonStatusString(status);
}

DeviceSample readDevice(const DeviceId& id, unsigned groups) {
    DeviceSample s;
    s.id = id;
    s.family = familyOf(id.type);
    s.readAt = utcTimestamp(std::chrono::system_clock::now());
    Reader r(s);

    r.text(s.node, "node", crvmonGetNodeName);
    if (groups & kReadIdentity) {
        r.value(s.driverType, "driver.type", crvmonGetDriverType);
        r.value(s.vendorId, "pci.vendor_id", crvmonGetVendorId);
        r.value(s.deviceId, "pci.device_id", crvmonGetDeviceId);
        r.value(s.subVendorId, "pci.sub_vendor_id", crvmonGetSubVendorId);
        r.value(s.subDeviceId, "pci.sub_device_id", crvmonGetSubDeviceId);
        r.value(s.pcieGen, "pcie.gen", crvmonGetPcieGen);
        r.value(s.pcieLanes, "pcie.lanes", crvmonGetPcieLanes);
        r.value(s.pcieRev, "pcie.rev", crvmonGetPcieRev);
        r.value(s.pcieClassCode, "pcie.class_code", crvmonGetPcieClassCode);
        r.text(s.pcieSlot, "pcie.slot", crvmonGetPcieSlot);
        r.value(s.signalType, "signal_type", crvmonGetSignalType);
        r.value(s.chipId, "chip_id", crvmonGetChipId);
    }
    if (groups & kReadVersions) {
        readDriver(s, r);
        r.text(s.firmwareVersion, "firmware.version", crvmonGetFirmwareVersion);
        r.value(s.firmwareRevision, "firmware.revision", crvmonGetFirmwareRevision);
        r.value(s.firmwareCrc, "firmware.crc", crvmonGetFirmwareCRC);
        r.text(s.onDeviceDriverVersion, "device_driver.version", crvmonGetOnDeviceDriverVersion);
        r.value(s.onDeviceDriverRevision, "device_driver.revision",
                crvmonGetOnDeviceDriverRevision);
    }
    if (groups & kReadClocks) {
        r.value(s.npuClockMHz, "clocks.npu", crvmonGetNPUClock);
        r.value(s.busClockMHz, "clocks.bus", crvmonGetBusClock);
    }
    if (groups & kReadThermal) {
        r.value(s.temperatureC, "temperature.chip", crvmonGetTemperature);
        r.value(s.switchTemperatureC, "temperature.pcie_switch", crvmonGetPcieSwitchTemperature);
        r.value(s.fanDutyPercent, "fan.duty", crvmonGetFanDuty);
    }
    if (groups & kReadPower) {
        r.value(s.boardCurrentA, "power.current", crvmonGetTotalCurrent);
        r.value(s.boardPowerW, "power.draw", crvmonGetTotalPower);
        r.value(s.boardVoltageV, "power.voltage", crvmonGetTotalVoltage);
    }
    if (groups & kReadExtraPmic) {
        r.value(s.extraPmicId, "extra_pmic.id", crvmonGetExtraPmicId);
        r.value(s.extraPmicCurrentA, "extra_pmic.current", crvmonGetExtraPmicCurrent);
        r.value(s.extraPmicPowerW, "extra_pmic.power", crvmonGetExtraPmicPower);
        r.value(s.extraPmicVoltageV, "extra_pmic.voltage", crvmonGetExtraPmicVoltage);
    }
    for (std::optional<double>* reading :
         {&s.boardCurrentA, &s.boardPowerW, &s.boardVoltageV, &s.extraPmicCurrentA,
          &s.extraPmicPowerW, &s.extraPmicVoltageV}) {
        asFloatReading(*reading);
    }
    if (groups & kReadMemory) {
        r.value(s.memoryTotalBytes, "memory.total", crvmonGetMemoryTotal);
        // The library reports 0 for a backend that never gave a size: that is no size at all.
        if (s.memoryTotalBytes == 0LL) s.memoryTotalBytes.reset();
        r.value(s.memoryUsedBytes, "memory.used", crvmonGetMemoryUsage);
    }
    if (groups & kReadUtilization) {
        r.value(s.utilizationPercent, "utilization", crvmonGetTotalUtilization);
    }
    if (groups & kReadCores) {
        if (auto infos = r.records("cores", crvmonGetCoreInfos)) {
            s.cores.emplace();
            for (const crvmonCoreInfo_t& info : *infos) s.cores->push_back(coreLoad(info));
        }
    }
    if (groups & kReadProcesses) {
        if (auto infos = r.records("processes", crvmonGetProcessInfos)) {
            s.processes.emplace();
            for (const crvmonProcessInfo_t& p : *infos) {
                s.processes->push_back(
                    {p.pid, processName(p.pid), p.quantity, p.amount, p.busyTime, p.totalTime});
            }
        }
    }
    return s;
}

}  // namespace crvmon::tools
