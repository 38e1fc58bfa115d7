// The getters of live telemetry: the device frame, then the accessor that knows the value.
#include "lib/api/crvmon.h"
#include "lib/api/device_frame.h"
#include "lib/monitor/metric_accessors.h"

namespace corvanta {

using crvmon::DeviceRecord;
using crvmon::withDevice;
namespace accessors = crvmon::accessors;

int crvmonGetBusClock(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::busClock(d, s);
    });
}

int crvmonGetChipId(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::chipId(d, s);
    });
}

int crvmonGetFanDuty(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::fanDuty(d, s);
    });
}

int crvmonGetNPUClock(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::npuClock(d, s);
    });
}

int crvmonGetTemperature(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::temperature(d, s);
    });
}

int crvmonGetPcieSwitchTemperature(crvmonTargetDeviceType_t type, int index,
                                   crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::pcieSwitchTemperature(d, s);
    });
}

double crvmonGetTotalCurrent(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::totalCurrent(d, s);
    });
}

double crvmonGetTotalPower(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::totalPower(d, s);
    });
}

double crvmonGetTotalVoltage(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::totalVoltage(d, s);
    });
}

double crvmonGetExtraPmicCurrent(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::extraPmicCurrent(d, s);
    });
}

double crvmonGetExtraPmicPower(crvmonTargetDeviceType_t type, int index,
                               crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::extraPmicPower(d, s);
    });
}

double crvmonGetExtraPmicVoltage(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::extraPmicVoltage(d, s);
    });
}

double crvmonGetTotalUtilization(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1.0, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::totalUtilization(d, s);
    });
}

crvmonExtraPmicId_t crvmonGetExtraPmicId(crvmonTargetDeviceType_t type, int index,
                                         crvmonStatusCode_t& status) {
    return withDevice(
        type, index, status, CRVMON_EXTRA_PMIC_0,
        [](const DeviceRecord& d, crvmonStatusCode_t& s) { return accessors::extraPmicId(d, s); });
}

long long crvmonGetMemoryUsage(crvmonTargetDeviceType_t type, int index,
                               crvmonStatusCode_t& status) {
    return withDevice(type, index, status, -1LL, [](const DeviceRecord& d, crvmonStatusCode_t& s) {
        return accessors::memoryUsage(d, s);
    });
}

std::vector<crvmonCoreInfo_t> crvmonGetCoreInfos(crvmonTargetDeviceType_t type, int index,
                                                 crvmonStatusCode_t& status) {
    return withDevice(
        type, index, status, std::vector<crvmonCoreInfo_t>(),
        [](const DeviceRecord& d, crvmonStatusCode_t& s) { return accessors::coreInfos(d, s); });
}

std::vector<crvmonProcessInfo_t> crvmonGetProcessInfos(crvmonTargetDeviceType_t type, int index,
                                                       crvmonStatusCode_t& status) {
    return withDevice(
        type, index, status, std::vector<crvmonProcessInfo_t>(),
        [](const DeviceRecord& d, crvmonStatusCode_t& s) { return accessors::processInfos(d, s); });
}

crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index,
                                        crvmonExtraPmicId_t id) {
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const crvmonStatusCode_t result = withDevice(type, index, status, CRVMON_STATUS_NOT_SUPPORTED,
                                                 [id](const DeviceRecord& d, crvmonStatusCode_t&) {
                                                     return accessors::setExtraPmicId(d, id);
                                                 });
    // A failed lookup reports its own status.
    return status != CRVMON_STATUS_OK ? status : result;
}

}  // namespace corvanta
