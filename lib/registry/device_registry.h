// The library's one process-wide object: the opened devices in probe order, indexed by target
// type, and one driver version per driver type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crvmon.h"
#include "lib/registry/device_handle.h"

namespace crvmon {

struct DriverVersionEntry {
    std::string versionText;
    std::uint32_t revision = 0;
};

class DeviceRegistry {
  public:
    // Node paths of one driver family stop being tried after this many have failed.
    static constexpr int kMaxProbeFailures = 8;

    DeviceRegistry() = default;
    ~DeviceRegistry();
    DeviceRegistry(const DeviceRegistry&) = delete;
    DeviceRegistry& operator=(const DeviceRegistry&) = delete;

    // Opens the devices of the requested driver types (others are ignored), always in the order
    // Orvek, Veltara NPU, Veltara USB. Releases an earlier set first. Returns 0, or 1 with a line
    // on standard error when nothing opened.
    crvmonStatusCode_t initialise(const std::unordered_set<std::int32_t>& driverTypes);

    // Releases every device; 0 in every case.
    crvmonStatusCode_t shutdown();

    // The device at (type, index): CRVMON_STATUS_NOT_INITIALIZED when not initialised,
    // CRVMON_STATUS_TARGET_NOT_FOUND when the type has no devices, CRVMON_STATUS_INVALID_ARGUMENT
    // when the index is outside them, in that order; null unless the status is CRVMON_STATUS_OK.
    const DeviceHandle* lookupDevice(crvmonTargetDeviceType_t type, int index,
                                     crvmonStatusCode_t& status) const;

    bool initialised() const { return initialised_; }
    std::size_t deviceCount() const { return devices_.size(); }
    const std::unordered_map<std::int32_t, std::vector<std::int32_t>>& indexByTarget() const {
        return indexByTarget_;
    }
    const std::unordered_map<std::int32_t, DriverVersionEntry>& driverVersions() const {
        return driverVersions_;
    }

  private:
    using DeviceList = std::vector<std::unique_ptr<DeviceHandle>>;

    static void probeDriverNodes(const std::string& basePath, DeviceList& devices);
    void release();

    bool initialised_ = false;
    DeviceList devices_;
    std::unordered_map<std::int32_t, std::vector<std::int32_t>> indexByTarget_;
    std::unordered_map<std::int32_t, DriverVersionEntry> driverVersions_;
};

}  // namespace crvmon
