// Every value the library has for one device, read through the flat functions. A value the
// device does not provide is left empty; it is never a -1 or any other stand-in number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crvmon.h"
#include "tools/common/device_id.h"

namespace crvmon::tools {

// Which values to read: a tool reads only what it shows, so a query of the temperature does not
// wait for the process list.
enum ReadGroup : unsigned {
    kReadIdentity = 1u << 0,     // ids, PCI Express attributes, signal type, chip id, node
    kReadVersions = 1u << 1,     // driver, firmware and on-device driver
    kReadClocks = 1u << 2,       // NPU and bus clock
    kReadThermal = 1u << 3,      // temperatures and fan
    kReadPower = 1u << 4,        // the board's power monitor
    kReadExtraPmic = 1u << 5,    // the selected extra power monitor
    kReadMemory = 1u << 6,       // total and used
    kReadUtilization = 1u << 7,  // the total utilisation
    kReadCores = 1u << 8,        // the per-core list
    kReadProcesses = 1u << 9,    // the process list
    kReadEverything = (1u << 10) - 1,
};

struct CoreLoad {
    std::optional<int> cluster;  // 0, 1, ...; empty for a record the library marks invalid
    std::optional<int> core;     // 1-4; empty for the whole-cluster entry or an invalid one
    std::int64_t busyTime = 0;
    std::int64_t totalTime = 0;

    // Busy share of the window in percent, or as a ratio; empty when the window has no length.
    std::optional<double> busyPercent() const;
    std::optional<double> busyRatio() const;
    bool wholeCluster() const;
};

struct ProcessLoad {
    std::int32_t pid = 0;
    std::optional<std::string> name;  // see process_names.h; empty when none is known
    std::uint32_t quantity = 0;
    std::uint64_t amount = 0;
    std::int64_t busyTime = 0;
    std::int64_t totalTime = 0;

    std::optional<double> busyPercent() const;
    std::optional<double> busyRatio() const;
};

// A value the library refused with a status other than "not provided", or a live value the
// device's family always has that came back "not provided": the device (or the library) failed,
// which a tool reports and counts.
struct ReadError {
    std::string what;  // the field read, as the field catalogue names it: "temperature.chip"
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
};

struct DeviceSample {
    DeviceId id;
    Family family = Family::Unknown;
    std::string readAt;  // UTC, when the read began

    // Identity.
    std::optional<std::string> node;
    std::optional<int> driverType;  // crvmonDriverType_t
    std::optional<int> vendorId, deviceId, subVendorId, subDeviceId;
    std::optional<int> pcieGen, pcieLanes, pcieRev, pcieClassCode;
    std::optional<std::string> pcieSlot;
    std::optional<int> signalType, chipId;

    // Versions. The driver's are those of the device's driver type.
    std::optional<std::string> driverVersion;
    std::optional<unsigned> driverRevision;
    std::optional<std::string> firmwareVersion;
    std::optional<int> firmwareRevision, firmwareCrc;
    std::optional<std::string> onDeviceDriverVersion;
    std::optional<int> onDeviceDriverRevision;

    // Telemetry.
    std::optional<int> npuClockMHz, busClockMHz;
    std::optional<int> temperatureC, switchTemperatureC, fanDutyPercent;
    std::optional<double> boardCurrentA, boardPowerW, boardVoltageV;
    std::optional<int> extraPmicId;  // crvmonExtraPmicId_t
    std::optional<double> extraPmicCurrentA, extraPmicPowerW, extraPmicVoltageV;
    std::optional<long long> memoryTotalBytes, memoryUsedBytes;
    std::optional<double> utilizationPercent;
    std::optional<std::vector<CoreLoad>> cores;
    std::optional<std::vector<ProcessLoad>> processes;

    std::vector<ReadError> errors;
};

// Reads the groups asked for (a ReadGroup mask). The library must be initialised.
DeviceSample readDevice(const DeviceId& id, unsigned groups);

// The version of each driver type the library found a device of, in driver-type order: "Orvek",
// "1.8.2". The library must be initialised.
struct DriverVersion {
    const char* name;  // "Orvek", "Veltara NPU", "Veltara USB"
    crvmonDriverType_t type;
    std::string version;
    std::optional<unsigned> revision;  // empty when the driver gave none
};
std::vector<DriverVersion> driverVersions();

// The text of a status for messages: the library's own words.
std::string statusText(crvmonStatusCode_t status);

}  // namespace crvmon::tools
