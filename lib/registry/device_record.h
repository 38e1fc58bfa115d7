// What a probe learns about one device node, and the link to the backend object that answers
// live queries. A device handle takes this record over from the probe that filled it.
#pragma once

#include <cstdint>
#include <string>

#include "crvmon.h"
#include "lib/registry/version_info.h"

namespace crvmon {

class VeltaraClient;

struct DeviceRecord {
    bool open = false;
    crvmonDriverType_t driverType = CRVMON_DRIVER_NONE;
    crvmonTargetDeviceType_t targetType = CRVMON_TARGET_NONE;
    std::string nodePath;
    VersionInfo driverVersion;
    VersionInfo onDeviceDriverVersion;
    VersionInfo firmwareVersion;
    std::int32_t firmwareCrc = kAbsent32;
    std::int32_t monitorKey = kAbsent32;
    std::int32_t signalType = kAbsent32;
    std::int32_t vendorId = kAbsent32;
    std::int32_t deviceId = kAbsent32;
    std::int32_t subVendorId = kAbsent32;
    std::int32_t subDeviceId = kAbsent32;
    std::int32_t pcieGen = kAbsent32;
    std::int32_t pcieLanes = kAbsent32;
    std::int32_t pcieRev = kAbsent32;
    std::int32_t pcieClassCode = kAbsent32;
    std::string pcieSlot;
    std::int64_t memoryTotal = 0;
    // Owned by whoever holds the record: the probe until it returns, then the device handle.
    VeltaraClient* client = nullptr;
};

}  // namespace crvmon
