// One accessor per value read when the device opened: the answer comes from the device record,
// with no call to the device. Each sets its status to CRVMON_STATUS_OK, or to
// CRVMON_STATUS_NOT_SUPPORTED when the device did not report the value.
#pragma once

#include <string>

#include "crvmon.h"
#include "lib/registry/device_record.h"

namespace crvmon::accessors {

std::string nodeName(const DeviceRecord& device, crvmonStatusCode_t& status);
crvmonDriverType_t driverType(const DeviceRecord& device, crvmonStatusCode_t& status);
int vendorId(const DeviceRecord& device, crvmonStatusCode_t& status);
int deviceId(const DeviceRecord& device, crvmonStatusCode_t& status);
int subVendorId(const DeviceRecord& device, crvmonStatusCode_t& status);
int subDeviceId(const DeviceRecord& device, crvmonStatusCode_t& status);
int pcieGen(const DeviceRecord& device, crvmonStatusCode_t& status);
int pcieLanes(const DeviceRecord& device, crvmonStatusCode_t& status);
int pcieRev(const DeviceRecord& device, crvmonStatusCode_t& status);
int pcieClassCode(const DeviceRecord& device, crvmonStatusCode_t& status);
std::string pcieSlot(const DeviceRecord& device, crvmonStatusCode_t& status);
int signalType(const DeviceRecord& device, crvmonStatusCode_t& status);

std::string firmwareVersion(const DeviceRecord& device, crvmonStatusCode_t& status);
int firmwareRevision(const DeviceRecord& device, crvmonStatusCode_t& status);
int firmwareCrc(const DeviceRecord& device, crvmonStatusCode_t& status);
std::string onDeviceDriverVersion(const DeviceRecord& device, crvmonStatusCode_t& status);
int onDeviceDriverRevision(const DeviceRecord& device, crvmonStatusCode_t& status);

long long memoryTotal(const DeviceRecord& device, crvmonStatusCode_t& status);

}  // namespace crvmon::accessors
