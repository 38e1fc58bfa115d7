// Every getter of one device, one row each, in the order crvmon.h declares them. A row names
// the getter, what it returns on failure and the accessor that answers for a device
// (crvmon::accessors: lib/telemetry). The namespaced getters (device_getters.cpp) and their
// flat twins (flat_api.cpp) are written out from these rows; crvmon.h keeps the documented
// declarations, and the compiler holds each row to them.
//   VALUE(name, result type, failure value, accessor): the flat twin fills a slot of the type
//   TEXT(name, accessor): a std::string, "" on failure; the flat twin fills a character buffer
//   RECORDS(name, record type, accessor): a std::vector, empty on failure; the flat twin fills
//   a record array
// crvmonSetExtraPmicID, the one call that changes a device, is written out by hand.
#pragma once

// clang-format off
#define CRVMON_DEVICE_GETTERS(VALUE, TEXT, RECORDS)                                         \
    /* Identity */                                                                          \
    TEXT(crvmonGetNodeName, nodeName)                                                       \
    VALUE(crvmonGetDriverType, crvmonDriverType_t, CRVMON_DRIVER_NONE, driverType)          \
    VALUE(crvmonGetVendorId, int, -1, vendorId)                                             \
    VALUE(crvmonGetDeviceId, int, -1, deviceId)                                             \
    VALUE(crvmonGetSubVendorId, int, -1, subVendorId)                                       \
    VALUE(crvmonGetSubDeviceId, int, -1, subDeviceId)                                       \
    VALUE(crvmonGetPcieGen, int, -1, pcieGen)                                               \
    VALUE(crvmonGetPcieLanes, int, -1, pcieLanes)                                           \
    VALUE(crvmonGetPcieRev, int, -1, pcieRev)                                               \
    VALUE(crvmonGetPcieClassCode, int, -1, pcieClassCode)                                   \
    TEXT(crvmonGetPcieSlot, pcieSlot)                                                       \
    VALUE(crvmonGetSignalType, int, -1, signalType)                                         \
    VALUE(crvmonGetChipId, int, -1, chipId)                                                 \
    /* Versions */                                                                          \
    TEXT(crvmonGetFirmwareVersion, firmwareVersion)                                         \
    VALUE(crvmonGetFirmwareRevision, int, -1, firmwareRevision)                             \
    VALUE(crvmonGetFirmwareCRC, int, -1, firmwareCrc)                                       \
    TEXT(crvmonGetOnDeviceDriverVersion, onDeviceDriverVersion)                             \
    VALUE(crvmonGetOnDeviceDriverRevision, int, -1, onDeviceDriverRevision)                 \
    /* Clocks */                                                                            \
    VALUE(crvmonGetNPUClock, int, -1, npuClock)                                             \
    VALUE(crvmonGetBusClock, int, -1, busClock)                                             \
    /* Thermal */                                                                           \
    VALUE(crvmonGetTemperature, int, -1, temperature)                                       \
    VALUE(crvmonGetPcieSwitchTemperature, int, -1, pcieSwitchTemperature)                   \
    VALUE(crvmonGetFanDuty, int, -1, fanDuty)                                               \
    /* Power */                                                                             \
    VALUE(crvmonGetTotalCurrent, double, -1.0, totalCurrent)                                \
    VALUE(crvmonGetTotalPower, double, -1.0, totalPower)                                    \
    VALUE(crvmonGetTotalVoltage, double, -1.0, totalVoltage)                                \
    VALUE(crvmonGetExtraPmicCurrent, double, -1.0, extraPmicCurrent)                        \
    VALUE(crvmonGetExtraPmicPower, double, -1.0, extraPmicPower)                            \
    VALUE(crvmonGetExtraPmicVoltage, double, -1.0, extraPmicVoltage)                        \
    VALUE(crvmonGetExtraPmicId, crvmonExtraPmicId_t, CRVMON_EXTRA_PMIC_0, extraPmicId)      \
    /* Memory */                                                                            \
    VALUE(crvmonGetMemoryTotal, long long, -1LL, memoryTotal)                               \
    VALUE(crvmonGetMemoryUsage, long long, -1LL, memoryUsage)                               \
    /* Utilisation */                                                                       \
    RECORDS(crvmonGetCoreInfos, crvmonCoreInfo_t, coreInfos)                                \
    VALUE(crvmonGetTotalUtilization, double, -1.0, totalUtilization)                        \
    /* Processes */                                                                         \
    RECORDS(crvmonGetProcessInfos, crvmonProcessInfo_t, processInfos)
// clang-format on
