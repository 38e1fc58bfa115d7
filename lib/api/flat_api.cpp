// The flat functions: each calls its namespaced twin once, after the null-pointer check, and
// copies the result out under the buffer-size and two-call rules.
#include <cstring>

#include "lib/api/api_guard.h"
#include "lib/api/crvmon.h"

namespace flat {

// A value slot: null is rejected before anything runs; otherwise the slot takes whatever the
// getter returned, its error value included.
template <class Slot, class Getter>
crvmonStatusCode_t value(Slot* slot, Getter getter) {
    if (slot == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    *slot = static_cast<Slot>(getter(status));
    return status;
}

// A character buffer: the text and its terminator when they fit, else
// CRVMON_STATUS_BUFFER_TOO_SMALL and nothing
// written.
template <class Getter>
crvmonStatusCode_t text(char* buffer, unsigned int size, Getter getter) {
    if (buffer == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const std::string result = getter(status);
    if (status != CRVMON_STATUS_OK) return status;
    if (static_cast<unsigned long long>(size) <
        static_cast<unsigned long long>(result.size()) + 1) {
        return CRVMON_STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return CRVMON_STATUS_OK;
}

// A record array: *count 0 asks for the number; otherwise the records when they fit.
template <class Record, class Getter>
crvmonStatusCode_t records(Record* infos, unsigned int* count, Getter getter) {
    if (count == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const std::vector<Record> result = getter(status);
    if (status != CRVMON_STATUS_OK) return status;
    if (*count == 0) {
        *count = static_cast<unsigned int>(result.size());
        return CRVMON_STATUS_OK;
    }
    if (infos == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    if (static_cast<unsigned long long>(*count) < result.size())
        return CRVMON_STATUS_BUFFER_TOO_SMALL;
    if (!result.empty()) std::memcpy(infos, result.data(), result.size() * sizeof(Record));
    *count = static_cast<unsigned int>(result.size());
    return CRVMON_STATUS_OK;
}

}  // namespace flat

extern "C" {

crvmonStatusCode_t crvmonInit(void) {
    return corvanta::crvmonInit();
}

crvmonStatusCode_t crvmonShutdown(void) {
    return corvanta::crvmonShutdown();
}

crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index,
                                        crvmonExtraPmicId_t id) {
    return corvanta::crvmonSetExtraPmicID(type, index, id);
}

crvmonStatusCode_t crvmonGetDeviceCount(int* count) {
    return flat::value(count,
                       [](crvmonStatusCode_t& s) { return corvanta::crvmonGetDeviceCount(s); });
}

crvmonStatusCode_t crvmonGetTargetDeviceCount(crvmonTargetDeviceType_t type, int* count) {
    return flat::value(count, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTargetDeviceCount(type, s);
    });
}

crvmonStatusCode_t crvmonGetDriverRevision(crvmonDriverType_t type, unsigned int* revision) {
    return flat::value(revision, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetDriverRevision(type, s);
    });
}

crvmonStatusCode_t crvmonGetDriverVersion(crvmonDriverType_t type, char* buffer,
                                          unsigned int size) {
    return flat::text(buffer, size, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetDriverVersion(type, s);
    });
}

crvmonStatusCode_t crvmonGetBusClock(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetBusClock(type, index, s); });
}

crvmonStatusCode_t crvmonGetChipId(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetChipId(type, index, s); });
}

crvmonStatusCode_t crvmonGetDeviceId(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetDeviceId(type, index, s); });
}

crvmonStatusCode_t crvmonGetFanDuty(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetFanDuty(type, index, s); });
}

crvmonStatusCode_t crvmonGetFirmwareCRC(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetFirmwareCRC(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetFirmwareRevision(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetFirmwareRevision(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetNPUClock(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetNPUClock(type, index, s); });
}

crvmonStatusCode_t crvmonGetOnDeviceDriverRevision(crvmonTargetDeviceType_t type, int index,
                                                   int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetOnDeviceDriverRevision(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetPcieClassCode(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetPcieClassCode(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetPcieGen(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetPcieGen(type, index, s); });
}

crvmonStatusCode_t crvmonGetPcieLanes(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetPcieLanes(type, index, s); });
}

crvmonStatusCode_t crvmonGetPcieRev(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetPcieRev(type, index, s); });
}

crvmonStatusCode_t crvmonGetPcieSwitchTemperature(crvmonTargetDeviceType_t type, int index,
                                                  int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetPcieSwitchTemperature(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetSignalType(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetSignalType(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetSubDeviceId(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetSubDeviceId(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetSubVendorId(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetSubVendorId(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetTemperature(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTemperature(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetVendorId(crvmonTargetDeviceType_t type, int index, int* value) {
    return flat::value(
        value, [=](crvmonStatusCode_t& s) { return corvanta::crvmonGetVendorId(type, index, s); });
}

crvmonStatusCode_t crvmonGetMemoryTotal(crvmonTargetDeviceType_t type, int index,
                                        long long* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetMemoryTotal(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetMemoryUsage(crvmonTargetDeviceType_t type, int index,
                                        long long* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetMemoryUsage(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetExtraPmicCurrent(crvmonTargetDeviceType_t type, int index,
                                             double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetExtraPmicCurrent(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetExtraPmicPower(crvmonTargetDeviceType_t type, int index,
                                           double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetExtraPmicPower(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetExtraPmicVoltage(crvmonTargetDeviceType_t type, int index,
                                             double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetExtraPmicVoltage(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetTotalCurrent(crvmonTargetDeviceType_t type, int index, double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTotalCurrent(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetTotalPower(crvmonTargetDeviceType_t type, int index, double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTotalPower(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetTotalUtilization(crvmonTargetDeviceType_t type, int index,
                                             double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTotalUtilization(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetTotalVoltage(crvmonTargetDeviceType_t type, int index, double* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTotalVoltage(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetDriverType(crvmonTargetDeviceType_t type, int index,
                                       crvmonDriverType_t* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetDriverType(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetExtraPmicId(crvmonTargetDeviceType_t type, int index,
                                        crvmonExtraPmicId_t* value) {
    return flat::value(value, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetExtraPmicId(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetFirmwareVersion(crvmonTargetDeviceType_t type, int index, char* buffer,
                                            unsigned int size) {
    return flat::text(buffer, size, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetFirmwareVersion(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetNodeName(crvmonTargetDeviceType_t type, int index, char* buffer,
                                     unsigned int size) {
    return flat::text(buffer, size, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetNodeName(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetOnDeviceDriverVersion(crvmonTargetDeviceType_t type, int index,
                                                  char* buffer, unsigned int size) {
    return flat::text(buffer, size, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetOnDeviceDriverVersion(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetPcieSlot(crvmonTargetDeviceType_t type, int index, char* buffer,
                                     unsigned int size) {
    return flat::text(buffer, size, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetPcieSlot(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetCoreInfos(crvmonTargetDeviceType_t type, int index,
                                      crvmonCoreInfo_t* infos, unsigned int* count) {
    return flat::records(infos, count, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetCoreInfos(type, index, s);
    });
}

crvmonStatusCode_t crvmonGetProcessInfos(crvmonTargetDeviceType_t type, int index,
                                         crvmonProcessInfo_t* infos, unsigned int* count) {
    return flat::records(infos, count, [=](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetProcessInfos(type, index, s);
    });
}

const char* crvmonStatusString(crvmonStatusCode_t status) {
    switch (status) {
        case CRVMON_STATUS_OK: return "success";
        case CRVMON_STATUS_NOT_INITIALIZED: return "library not initialised";
        case CRVMON_STATUS_DRIVER_NOT_FOUND: return "no device of that driver type";
        case CRVMON_STATUS_INVALID_ARGUMENT: return "invalid argument or device index";
        case CRVMON_STATUS_NOT_SUPPORTED: return "not supported by this device, or value absent";
        case CRVMON_STATUS_BUFFER_TOO_SMALL: return "buffer or array too small";
        case CRVMON_STATUS_TARGET_NOT_FOUND: return "no device of that target type";
    }
    return "unknown status";
}

}  // extern "C"
