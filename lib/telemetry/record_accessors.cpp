#include "lib/telemetry/record_accessors.h"

#include <type_traits>

#include "lib/registry/version_text.h"

namespace crvmon::accessors {

namespace {

// A stored field holds the absent value (all bits set) when the device did not report it.
template <class Field>
Field stored(Field value, crvmonStatusCode_t& status) {
    static_assert(std::is_integral_v<Field>);
    status = value == static_cast<Field>(-1) ? CRVMON_STATUS_NOT_SUPPORTED : CRVMON_STATUS_OK;
    return value;
}

}  // namespace

std::string nodeName(const DeviceRecord& device, crvmonStatusCode_t& status) {
    status = CRVMON_STATUS_OK;
    return device.nodePath;
}

crvmonDriverType_t driverType(const DeviceRecord& device, crvmonStatusCode_t& status) {
    status = CRVMON_STATUS_OK;
    return device.driverType;
}

int vendorId(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.vendorId, status);
}

int deviceId(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.deviceId, status);
}

int subVendorId(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.subVendorId, status);
}

int subDeviceId(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.subDeviceId, status);
}

int pcieGen(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.pcieGen, status);
}

int pcieLanes(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.pcieLanes, status);
}

int pcieRev(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.pcieRev, status);
}

int pcieClassCode(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.pcieClassCode, status);
}

std::string pcieSlot(const DeviceRecord& device, crvmonStatusCode_t& status) {
    if (device.pcieSlot.empty()) {
        status = CRVMON_STATUS_NOT_SUPPORTED;
        return kNotAvailable;
    }
    status = CRVMON_STATUS_OK;
    return device.pcieSlot;
}

int signalType(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.signalType, status);
}

std::string firmwareVersion(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return firmwareVersionText(device.firmwareVersion, status);
}

int firmwareRevision(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return static_cast<int>(stored(device.firmwareVersion.revision, status));
}

int firmwareCrc(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return stored(device.firmwareCrc, status);
}

std::string onDeviceDriverVersion(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return onDeviceDriverVersionText(device.onDeviceDriverVersion, status);
}

int onDeviceDriverRevision(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return static_cast<int>(stored(device.onDeviceDriverVersion.revision, status));
}

long long memoryTotal(const DeviceRecord& device, crvmonStatusCode_t& status) {
    return static_cast<long long>(stored(device.memoryTotal, status));
}

}  // namespace crvmon::accessors
