#include "tools/common/device_sample.h"

#include <chrono>

#include "tools/common/utc_time.h"

#include <string>
#include <vector>

namespace crvmon::tools {

namespace {

constexpr std::uint32_t kInvalidCluster = 0x7fff0000;
constexpr std::uint32_t kWholeClusterCore = 0xfffe;
constexpr std::uint32_t kInvalidCore = 0xffff;
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

    // Live values the device's family always has: "not provided" for one of them means the
    // backend failed to deliver it, which is reported like any other failure.
    void expecting(bool expected) { expected_ = expected; }

    bool keep(crvmonStatusCode_t status, const char* what) {
        if (status == CRVMON_STATUS_OK) return true;
        if (!isAbsence(status) || (expected_ && status == CRVMON_STATUS_NOT_SUPPORTED)) {
            sample_.errors.push_back({what, status});
        }
        return false;
    }

  private:
    DeviceSample& sample_;
    DeviceId id_;
    bool expected_ = false;
};

CoreLoad coreLoad(const crvmonCoreInfo_t& info) {
    CoreLoad load;
    if (info.cluster != kInvalidCluster && (info.cluster & 0xffffu) == 0 && info.cluster != 0) {
        load.cluster = static_cast<int>(info.cluster >> 16) - 1;
    }
    if (info.core != kWholeClusterCore && info.core != kInvalidCore) {
        load.core = static_cast<int>(info.core);
    }
    load.busyTime = info.busyTime;
    load.totalTime = info.totalTime;
    return load;
}

std::optional<double> share(std::int64_t busy, std::int64_t total) {
    if (total <= 0) return std::nullopt;
    return 100.0 * static_cast<double>(busy) / static_cast<double>(total);
}

void readDriver(DeviceSample& sample, Reader& reader) {
    if (!sample.driverType) {
        reader.value(sample.driverType, "driver type", crvmonGetDriverType);
        if (!sample.driverType) return;
    }
    const auto type = static_cast<crvmonDriverType_t>(*sample.driverType);
    std::string buffer(256, '\0');
    crvmonStatusCode_t status =
        crvmonGetDriverVersion(type, buffer.data(), static_cast<unsigned>(buffer.size()));
    if (reader.keep(status, "driver version")) sample.driverVersion = std::string(buffer.c_str());
    unsigned revision = 0;
    status = crvmonGetDriverRevision(type, &revision);
    if (reader.keep(status, "driver revision") && revision != kNoRevision) {
        sample.driverRevision = revision;
    }
}

}  // namespace

std::optional<double> CoreLoad::busyPercent() const {
    return share(busyTime, totalTime);
}

bool CoreLoad::wholeCluster() const {
    return cluster.has_value() && !core.has_value();
}

std::optional<double> ProcessLoad::busyPercent() const {
    return share(busyTime, totalTime);
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

    r.text(s.node, "node name", crvmonGetNodeName);
    if (groups & kReadIdentity) {
        r.value(s.driverType, "driver type", crvmonGetDriverType);
        r.value(s.vendorId, "vendor id", crvmonGetVendorId);
        r.value(s.deviceId, "device id", crvmonGetDeviceId);
        r.value(s.subVendorId, "subsystem vendor id", crvmonGetSubVendorId);
        r.value(s.subDeviceId, "subsystem id", crvmonGetSubDeviceId);
        r.value(s.pcieGen, "PCI Express generation", crvmonGetPcieGen);
        r.value(s.pcieLanes, "PCI Express lanes", crvmonGetPcieLanes);
        r.value(s.pcieRev, "PCI Express revision", crvmonGetPcieRev);
        r.value(s.pcieClassCode, "PCI Express class code", crvmonGetPcieClassCode);
        r.text(s.pcieSlot, "PCI Express slot", crvmonGetPcieSlot);
        r.value(s.signalType, "signal type", crvmonGetSignalType);
        r.value(s.chipId, "chip id", crvmonGetChipId);
    }
    if (groups & kReadVersions) {
        readDriver(s, r);
        r.text(s.firmwareVersion, "firmware version", crvmonGetFirmwareVersion);
        r.value(s.firmwareRevision, "firmware revision", crvmonGetFirmwareRevision);
        r.value(s.firmwareCrc, "firmware CRC", crvmonGetFirmwareCRC);
        r.text(s.onDeviceDriverVersion, "on-device driver version", crvmonGetOnDeviceDriverVersion);
        r.value(s.onDeviceDriverRevision, "on-device driver revision",
                crvmonGetOnDeviceDriverRevision);
    }
    const bool orvek = s.family == Family::Orvek;
    const bool known = s.family != Family::Unknown;
    if (groups & kReadClocks) {
        r.expecting(known);
        r.value(s.npuClockMHz, "NPU clock", crvmonGetNPUClock);
        r.expecting(orvek);
        r.value(s.busClockMHz, "bus clock", crvmonGetBusClock);
    }
    if (groups & kReadThermal) {
        r.expecting(known);
        r.value(s.temperatureC, "temperature", crvmonGetTemperature);
        r.expecting(orvek);
        r.value(s.switchTemperatureC, "PCI Express switch temperature",
                crvmonGetPcieSwitchTemperature);
        r.value(s.fanDutyPercent, "fan duty", crvmonGetFanDuty);
    }
    r.expecting(orvek);
    if (groups & kReadPower) {
        r.value(s.boardCurrentA, "board current", crvmonGetTotalCurrent);
        r.value(s.boardPowerW, "board power", crvmonGetTotalPower);
        r.value(s.boardVoltageV, "board voltage", crvmonGetTotalVoltage);
    }
    if (groups & kReadExtraPmic) {
        r.value(s.extraPmicId, "extra-PMIC id", crvmonGetExtraPmicId);
        r.value(s.extraPmicCurrentA, "extra-PMIC current", crvmonGetExtraPmicCurrent);
        r.value(s.extraPmicPowerW, "extra-PMIC power", crvmonGetExtraPmicPower);
        r.value(s.extraPmicVoltageV, "extra-PMIC voltage", crvmonGetExtraPmicVoltage);
    }
    if (groups & kReadMemory) {
        r.expecting(false);
        r.value(s.memoryTotalBytes, "memory total", crvmonGetMemoryTotal);
        // The library reports 0 for a backend that never gave a size: that is no size at all.
        if (s.memoryTotalBytes == 0LL) s.memoryTotalBytes.reset();
        r.expecting(known);
        r.value(s.memoryUsedBytes, "memory used", crvmonGetMemoryUsage);
    }
    r.expecting(known);
    if (groups & kReadUtilization) {
        r.value(s.utilizationPercent, "utilization", crvmonGetTotalUtilization);
    }
    if (groups & kReadCores) {
        if (auto infos = r.records("core list", crvmonGetCoreInfos)) {
            s.cores.emplace();
            for (const crvmonCoreInfo_t& info : *infos) s.cores->push_back(coreLoad(info));
        }
    }
    r.expecting(s.family == Family::Veltara);
    if (groups & kReadProcesses) {
        if (auto infos = r.records("process list", crvmonGetProcessInfos)) {
            s.processes.emplace();
            for (const crvmonProcessInfo_t& p : *infos) {
                s.processes->push_back({p.pid, p.quantity, p.amount, p.busyTime, p.totalTime});
            }
        }
    }
    return s;
}

}  // namespace crvmon::tools
