#include "lib/registry/device_registry.h"

#include <cstdio>
#include <utility>

#include "lib/common/diagnostic_print.h"
#include "lib/registry/version_text.h"

namespace crvmon {

namespace {

struct DriverFamily {
    std::int32_t driverType;
    const char* basePath;
};

// The order devices are probed in, whatever order the caller asked for.
constexpr DriverFamily kFamilies[] = {
    {CRVMON_DRIVER_ORVEK, "/dev/orvek"},
    {CRVMON_DRIVER_VELTARA_NPU, "/dev/veltara-npu"},
    {CRVMON_DRIVER_VELTARA_USB, "/dev/veltara-usb"},
};

}  // namespace

DeviceRegistry::~DeviceRegistry() {
    shutdown();
}

crvmonStatusCode_t DeviceRegistry::initialise(const std::unordered_set<std::int32_t>& driverTypes) {
    if (initialised_) release();

    // Devices are collected apart first, so that an error part-way through releases what had
    // opened instead of leaving a half-built registry behind.
    DeviceList opened;
    for (const DriverFamily& family : kFamilies) {
        if (driverTypes.count(family.driverType) != 0) probeDriverNodes(family.basePath, opened);
    }
    if (opened.empty()) {
        diagnosticPrint(stderr, "Failed to initialize - No driver installed\n");
        return CRVMON_STATUS_NOT_INITIALIZED;
    }

    std::unordered_map<std::int32_t, std::vector<std::int32_t>> index;
    std::unordered_map<std::int32_t, DriverVersionEntry> versions;
    for (std::size_t position = 0; position < opened.size(); ++position) {
        const DeviceRecord& device = opened[position]->record();
        // The first device of a driver type decides its version; later ones do not overwrite it.
        versions.try_emplace(
            device.driverType,
            DriverVersionEntry{driverVersionText(device.driverVersion),
                               static_cast<std::uint32_t>(device.driverVersion.revision)});
        if (device.targetType != CRVMON_TARGET_NONE) {
            index[device.targetType].push_back(static_cast<std::int32_t>(position));
        }
    }

    devices_ = std::move(opened);
    indexByTarget_ = std::move(index);
    driverVersions_ = std::move(versions);
    initialised_ = true;
    return CRVMON_STATUS_OK;
}

void DeviceRegistry::probeDriverNodes(const std::string& basePath, DeviceList& devices) {
    // Failures add up over the whole family and a success does not reset them: a device beyond
    // the eighth number that failed is not looked for.
    int failures = 0;
    for (long long number = 0; failures < kMaxProbeFailures; ++number) {
        auto handle = std::make_unique<DeviceHandle>(basePath + std::to_string(number));
        if (handle->open()) {
            devices.push_back(std::move(handle));
        } else {
            ++failures;
        }
    }
}

crvmonStatusCode_t DeviceRegistry::shutdown() {
    if (initialised_) release();
    return CRVMON_STATUS_OK;
}

void DeviceRegistry::release() {
    // In probe order: each handle's teardown releases its monitor or client.
    for (auto& device : devices_) device.reset();
    devices_.clear();
    indexByTarget_.clear();
    driverVersions_.clear();
    initialised_ = false;
}

const DeviceHandle* DeviceRegistry::lookupDevice(crvmonTargetDeviceType_t type, int index,
                                                 crvmonStatusCode_t& status) const {
    if (!initialised_) {
        status = CRVMON_STATUS_NOT_INITIALIZED;
        return nullptr;
    }
    auto entry = indexByTarget_.find(static_cast<std::int32_t>(type));
    if (entry == indexByTarget_.end()) {
        status = CRVMON_STATUS_TARGET_NOT_FOUND;
        return nullptr;
    }
    const std::vector<std::int32_t>& positions = entry->second;
    if (index < 0 || static_cast<std::size_t>(index) >= positions.size()) {
        status = CRVMON_STATUS_INVALID_ARGUMENT;
        return nullptr;
    }
    status = CRVMON_STATUS_OK;
    return devices_[static_cast<std::size_t>(positions[static_cast<std::size_t>(index)])].get();
}

}  // namespace crvmon
