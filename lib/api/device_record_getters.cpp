// The getters that answer straight from the device handle, from values read when it opened.
#include "lib/api/crvmon.h"
#include "lib/api/device_frame.h"

namespace corvanta {

using crvmon::DeviceRecord;
using crvmon::storedField;
using crvmon::withDevice;

namespace {

// The getters of one 32-bit stored field differ only in the field.
template <std::int32_t DeviceRecord::*Field>
int intField(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return static_cast<int>(storedField(d.*Field, s));
    });
}

}  // namespace

int crvmonGetVendorId(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::vendorId>(type, index, status);
}

int crvmonGetDeviceId(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::deviceId>(type, index, status);
}

int crvmonGetSubVendorId(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::subVendorId>(type, index, status);
}

int crvmonGetSubDeviceId(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::subDeviceId>(type, index, status);
}

int crvmonGetPcieGen(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::pcieGen>(type, index, status);
}

int crvmonGetPcieLanes(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::pcieLanes>(type, index, status);
}

int crvmonGetPcieRev(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::pcieRev>(type, index, status);
}

int crvmonGetPcieClassCode(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::pcieClassCode>(type, index, status);
}

int crvmonGetSignalType(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::signalType>(type, index, status);
}

int crvmonGetFirmwareCRC(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return intField<&DeviceRecord::firmwareCrc>(type, index, status);
}

int crvmonGetFirmwareRevision(crvmonTargetDeviceType_t type, int index,
                              crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return static_cast<int>(storedField(d.firmwareVersion.revision, s));
    });
}

int crvmonGetOnDeviceDriverRevision(crvmonTargetDeviceType_t type, int index,
                                    crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return static_cast<int>(storedField(d.onDeviceDriverVersion.revision, s));
    });
}

long long crvmonGetMemoryTotal(crvmonTargetDeviceType_t type, int index,
                               crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1LL, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return static_cast<long long>(storedField(d.memoryTotal, s));
    });
}

crvmonDriverType_t crvmonGetDriverType(crvmonTargetDeviceType_t type, int index,
                                       crvmonStatusCode_t& status) {
    return withDevice(type, index, status, CRVMON_DRIVER_NONE,
                      [](const DeviceRecord& d, crvmonStatusCode_t& s) {
                          s = CRVMON_STATUS_OK;
                          return d.driverType;
                      });
}

std::string crvmonGetNodeName(crvmonTargetDeviceType_t type, int index,
                              crvmonStatusCode_t& status) {
    return withDevice(type, index, status, std::string(),
                      [](const DeviceRecord& d, crvmonStatusCode_t& s) {
                          s = CRVMON_STATUS_OK;
                          return d.nodePath;
                      });
}

std::string crvmonGetPcieSlot(crvmonTargetDeviceType_t type, int index,
                              crvmonStatusCode_t& status) {
    return withDevice(type, index, status, std::string(),
                      [](const DeviceRecord& d, crvmonStatusCode_t& s) -> std::string {
                          if (d.pcieSlot.empty()) {
                              s = CRVMON_STATUS_NOT_SUPPORTED;
                              return "N/A";
                          }
                          s = CRVMON_STATUS_OK;
                          return d.pcieSlot;
                      });
}

}  // namespace corvanta
