/*
 * crvmon: device management and telemetry for Orvek (PCI Express) and Veltara (USB) NPUs.
 *
 * One header for both interfaces of the library:
 *  - the types below, shared by both, usable from C and C++;
 *  - the functions in namespace corvanta (C++ only), which return their value and report a
 *    crvmonStatusCode_t through a reference.
 *
 * Every function reports failures through its status and never throws. A getter that fails
 * returns an impossible value (-1, -1.0, 0, "", "N/A" or an empty vector by its result type).
 *
 * Threads: crvmonInit and crvmonShutdown must run alone, with no other call of the library
 * beside them. Calls on one Orvek device must not overlap. Veltara devices may be read from
 * any thread; but two process-list queries on one device at once interleave their snapshot
 * commands at the host service, and each may then see part of the other's snapshot.
 */
#ifndef CRVMON_H
#define CRVMON_H

#if defined(_WIN32)
#if defined(CRVMON_BUILDING_LIBRARY)
#define CRVMON_API __declspec(dllexport)
#else
#define CRVMON_API
#endif
#else
#define CRVMON_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#include <cstdint>
#define CRVMON_ENUM(name) enum name : int32_t
#else
#include <stdint.h>
#define CRVMON_ENUM(name) enum name
#endif

/* The enum typedefs go through a macro that clang-format cannot read; one entry a line. */
/* clang-format off */
/* ---------------------------------------------------------------------------------------------
 * Status codes. Numbers never change meaning; no other value is ever reported.
 * ------------------------------------------------------------------------------------------ */
typedef CRVMON_ENUM(crvmonStatusCode_t){
    CRVMON_STATUS_OK = 0,
    /* crvmonInit has not succeeded (never called, found no device, or undone by shutdown). */
    CRVMON_STATUS_NOT_INITIALIZED = 1,
    /* No opened device has this driver type, so no driver version is known for it. */
    CRVMON_STATUS_DRIVER_NOT_FOUND = 2,
    /* Index negative or past the devices of its type; or a required pointer is null. */
    CRVMON_STATUS_INVALID_ARGUMENT = 3,
    /* The device exists but does not provide this value, or its backend failed to deliver it. */
    CRVMON_STATUS_NOT_SUPPORTED = 4,
    /* The caller's character buffer or record array is too small for the result. */
    CRVMON_STATUS_BUFFER_TOO_SMALL = 5,
    /* No device of the requested target type, including a target type that does not exist. */
    CRVMON_STATUS_TARGET_NOT_FOUND = 6,
} crvmonStatusCode_t;

/* ---------------------------------------------------------------------------------------------
 * Target device types: a target type and an index within it address one device.
 * 1 and 3 belong to the Orvek family, 2, 4, 5 and 6 to the Veltara family.
 * ------------------------------------------------------------------------------------------ */
typedef CRVMON_ENUM(crvmonTargetDeviceType_t){
    CRVMON_TARGET_ORVEK = 1,             /* Orvek family; no probe produces it */
    CRVMON_TARGET_VELTARA = 2,           /* Veltara family; no probe produces it */
    CRVMON_TARGET_ORVEK_PCIE = 3,        /* every Orvek PCI Express card */
    CRVMON_TARGET_VELTARA_RESERVED = 4,  /* Veltara family; no probe produces it */
    CRVMON_TARGET_VELTARA_USB_KIND0 = 5, /* Veltara USB device of kind 0 (or kind unknown) */
    CRVMON_TARGET_VELTARA_USB_KIND1 = 6, /* Veltara USB device of kind 1 */
    CRVMON_TARGET_NONE = 0x7fffffff,     /* counted, but not addressable */
} crvmonTargetDeviceType_t;

/* Driver stacks; single bits. */
typedef CRVMON_ENUM(crvmonDriverType_t){
    CRVMON_DRIVER_NONE = 0,
    CRVMON_DRIVER_ORVEK = 1,       /* Orvek PCI Express kernel driver */
    CRVMON_DRIVER_VELTARA_NPU = 2, /* Veltara NPU driver */
    CRVMON_DRIVER_VELTARA_USB = 4, /* Veltara USB driver behind the host service */
} crvmonDriverType_t;

/* Which extra power-management IC of an Orvek board the extra-PMIC readings report. */
typedef CRVMON_ENUM(crvmonExtraPmicId_t){
    CRVMON_EXTRA_PMIC_0 = 0,
    CRVMON_EXTRA_PMIC_1 = 1,
    CRVMON_EXTRA_PMIC_2 = 2,
    CRVMON_EXTRA_PMIC_3 = 3,
} crvmonExtraPmicId_t;

/* clang-format on */

/* The cluster and core codes of a crvmonCoreInfo_t. */
#define CRVMON_CLUSTER_FIRST 0x10000u
#define CRVMON_CLUSTER_SECOND 0x20000u
#define CRVMON_CLUSTER_NONE 0x7fff0000u   /* no such cluster */
#define CRVMON_CORE_WHOLE_CLUSTER 0xfffeu /* the cluster's own entry, not a core */
#define CRVMON_CORE_NONE 0xffffu          /* no such core */

/* One utilisation sample of an NPU core, or of a whole cluster (CRVMON_CORE_WHOLE_CLUSTER). */
typedef struct crvmonCoreInfo_t {
    uint32_t cluster;  /* CRVMON_CLUSTER_FIRST, CRVMON_CLUSTER_SECOND or CRVMON_CLUSTER_NONE */
    uint32_t core;     /* 1..4 a core, CRVMON_CORE_WHOLE_CLUSTER or CRVMON_CORE_NONE */
    int64_t busyTime;  /* busy part of the sampling window */
    int64_t totalTime; /* length of the sampling window */
} crvmonCoreInfo_t;

/* One process using a Veltara device; never the calling process. */
typedef struct crvmonProcessInfo_t {
    int32_t pid;       /* process identifier on the host */
    uint32_t quantity; /* sum of the counts of the process's snapshot rows */
    uint64_t amount;   /* sum of the amounts of the process's snapshot rows */
    int64_t totalTime; /* length of the activity window, the same in every record of a call */
    int64_t busyTime;  /* busy time of the process within the window; 0 when idle */
} crvmonProcessInfo_t;

/* ---------------------------------------------------------------------------------------------
 * The flat API: the same operations for callers without namespaces, strings or vectors (C, and
 * any language that loads the DLL). Each returns the status and hands the value back through
 * its last argument(s):
 *  - a value slot: a null pointer gives CRVMON_STATUS_INVALID_ARGUMENT, before anything else
 *    (even before crvmonInit); otherwise the slot receives the value, or the error value (-1,
 *    -1.0 or 0) on failure;
 *  - a character buffer and its size: a null buffer gives CRVMON_STATUS_INVALID_ARGUMENT; on
 *    success the text and its NUL are copied when `size` holds them, else
 *    CRVMON_STATUS_BUFFER_TOO_SMALL and the buffer is untouched (size 0 is always too small);
 *    on any other failure the buffer is untouched;
 *  - a record array and its count: a null count gives CRVMON_STATUS_INVALID_ARGUMENT; with
 *    *count 0 the number of records is stored (the array may be null); otherwise a null array
 *    gives CRVMON_STATUS_INVALID_ARGUMENT, an array of fewer than the records
 *    CRVMON_STATUS_BUFFER_TOO_SMALL (nothing written), else the records are copied and *count
 *    set. Ask with 0, then with an array of that size; the number can grow in between
 *    (CRVMON_STATUS_BUFFER_TOO_SMALL again).
 * Statuses and units as for the namespaced functions below.
 * ------------------------------------------------------------------------------------------ */
#ifdef __cplusplus
extern "C" {
#endif

/* One declaration a line, grouped by what it reads. */
/* clang-format off */
/* Lifecycle and counting */
CRVMON_API crvmonStatusCode_t crvmonInit(void);
CRVMON_API crvmonStatusCode_t crvmonShutdown(void);
CRVMON_API crvmonStatusCode_t crvmonGetDeviceCount(int* count);
CRVMON_API crvmonStatusCode_t crvmonGetTargetDeviceCount(crvmonTargetDeviceType_t type, int* count);

/* Identity */
CRVMON_API crvmonStatusCode_t crvmonGetNodeName(crvmonTargetDeviceType_t type, int index, char* buffer, unsigned int size);
CRVMON_API crvmonStatusCode_t crvmonGetDriverType(crvmonTargetDeviceType_t type, int index, crvmonDriverType_t* value);
CRVMON_API crvmonStatusCode_t crvmonGetVendorId(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetDeviceId(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetSubVendorId(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetSubDeviceId(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieGen(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieLanes(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieRev(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieClassCode(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieSlot(crvmonTargetDeviceType_t type, int index, char* buffer, unsigned int size);
CRVMON_API crvmonStatusCode_t crvmonGetSignalType(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetChipId(crvmonTargetDeviceType_t type, int index, int* value);

/* Versions */
CRVMON_API crvmonStatusCode_t crvmonGetDriverVersion(crvmonDriverType_t type, char* buffer, unsigned int size);
CRVMON_API crvmonStatusCode_t crvmonGetDriverRevision(crvmonDriverType_t type, unsigned int* revision);
CRVMON_API crvmonStatusCode_t crvmonGetFirmwareVersion(crvmonTargetDeviceType_t type, int index, char* buffer, unsigned int size);
CRVMON_API crvmonStatusCode_t crvmonGetFirmwareRevision(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetFirmwareCRC(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetOnDeviceDriverVersion(crvmonTargetDeviceType_t type, int index, char* buffer, unsigned int size);
CRVMON_API crvmonStatusCode_t crvmonGetOnDeviceDriverRevision(crvmonTargetDeviceType_t type, int index, int* value);

/* Clocks */
CRVMON_API crvmonStatusCode_t crvmonGetNPUClock(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetBusClock(crvmonTargetDeviceType_t type, int index, int* value);

/* Thermal */
CRVMON_API crvmonStatusCode_t crvmonGetTemperature(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetPcieSwitchTemperature(crvmonTargetDeviceType_t type, int index, int* value);
CRVMON_API crvmonStatusCode_t crvmonGetFanDuty(crvmonTargetDeviceType_t type, int index, int* value);

/* Power */
CRVMON_API crvmonStatusCode_t crvmonGetTotalCurrent(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetTotalPower(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetTotalVoltage(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetExtraPmicCurrent(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetExtraPmicPower(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetExtraPmicVoltage(crvmonTargetDeviceType_t type, int index, double* value);
CRVMON_API crvmonStatusCode_t crvmonGetExtraPmicId(crvmonTargetDeviceType_t type, int index, crvmonExtraPmicId_t* value);
CRVMON_API crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index, crvmonExtraPmicId_t id);

/* Memory */
CRVMON_API crvmonStatusCode_t crvmonGetMemoryTotal(crvmonTargetDeviceType_t type, int index, long long* value);
CRVMON_API crvmonStatusCode_t crvmonGetMemoryUsage(crvmonTargetDeviceType_t type, int index, long long* value);

/* Utilisation */
CRVMON_API crvmonStatusCode_t crvmonGetCoreInfos(crvmonTargetDeviceType_t type, int index, crvmonCoreInfo_t* infos, unsigned int* count);
CRVMON_API crvmonStatusCode_t crvmonGetTotalUtilization(crvmonTargetDeviceType_t type, int index, double* value);

/* Processes */
CRVMON_API crvmonStatusCode_t crvmonGetProcessInfos(crvmonTargetDeviceType_t type, int index, crvmonProcessInfo_t* infos, unsigned int* count);

/* A fixed English text for a status; "unknown status" for any other value. */
CRVMON_API const char* crvmonStatusString(crvmonStatusCode_t status);
/* clang-format on */

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <string>
#include <vector>

namespace corvanta {

/* ---------------------------------------------------------------------------------------------
 * Lifecycle. Neither may run beside any other call of the library.
 * ------------------------------------------------------------------------------------------ */

/* Probes the Orvek, Veltara NPU and Veltara USB drivers and opens every device found.
 * Returns CRVMON_STATUS_OK, or CRVMON_STATUS_NOT_INITIALIZED (and a line on standard error)
 * when no device was opened. A second call first releases every device of the first. */
CRVMON_API crvmonStatusCode_t crvmonInit();

/* Releases every device. Returns CRVMON_STATUS_OK, also when the library was not
 * initialised. */
CRVMON_API crvmonStatusCode_t crvmonShutdown();

/* ---------------------------------------------------------------------------------------------
 * Counting. May run beside other getters.
 * ------------------------------------------------------------------------------------------ */

/* Number of opened devices of every type, including devices that cannot be addressed.
 * CRVMON_STATUS_OK, or CRVMON_STATUS_NOT_INITIALIZED (result 0) before crvmonInit. */
CRVMON_API int crvmonGetDeviceCount(crvmonStatusCode_t& status);

/* Number of devices of one target type; 0 with CRVMON_STATUS_OK for a type without devices.
 * CRVMON_STATUS_NOT_INITIALIZED (result 0) before crvmonInit. */
CRVMON_API int crvmonGetTargetDeviceCount(crvmonTargetDeviceType_t type,
                                          crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Identity. Every device getter below takes a target type and an index within it, and reports
 * CRVMON_STATUS_NOT_INITIALIZED before crvmonInit, CRVMON_STATUS_TARGET_NOT_FOUND for a target
 * type without devices, CRVMON_STATUS_INVALID_ARGUMENT for an index out of range (in that
 * order), and CRVMON_STATUS_NOT_SUPPORTED when the device did not report the value. Values read
 * at crvmonInit; they may run beside any other getter.
 * ------------------------------------------------------------------------------------------ */

/* Node path the device was opened under, such as "/dev/orvek0". Always CRVMON_STATUS_OK once
 * the device is found. */
CRVMON_API std::string crvmonGetNodeName(crvmonTargetDeviceType_t type, int index,
                                         crvmonStatusCode_t& status);

/* Driver stack serving the device (1 Orvek, 2 Veltara NPU, 4 Veltara USB, 0 none). Once the
 * device is found, always CRVMON_STATUS_OK: never CRVMON_STATUS_NOT_SUPPORTED. */
CRVMON_API crvmonDriverType_t crvmonGetDriverType(crvmonTargetDeviceType_t type, int index,
                                                  crvmonStatusCode_t& status);

/* PCI vendor id, device id, subsystem vendor id and subsystem id (Orvek only). */
CRVMON_API int crvmonGetVendorId(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status);
CRVMON_API int crvmonGetDeviceId(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status);
CRVMON_API int crvmonGetSubVendorId(crvmonTargetDeviceType_t type, int index,
                                    crvmonStatusCode_t& status);
CRVMON_API int crvmonGetSubDeviceId(crvmonTargetDeviceType_t type, int index,
                                    crvmonStatusCode_t& status);

/* PCI Express link generation, lane count, revision and class code (Orvek only). */
CRVMON_API int crvmonGetPcieGen(crvmonTargetDeviceType_t type, int index,
                                crvmonStatusCode_t& status);
CRVMON_API int crvmonGetPcieLanes(crvmonTargetDeviceType_t type, int index,
                                  crvmonStatusCode_t& status);
CRVMON_API int crvmonGetPcieRev(crvmonTargetDeviceType_t type, int index,
                                crvmonStatusCode_t& status);
CRVMON_API int crvmonGetPcieClassCode(crvmonTargetDeviceType_t type, int index,
                                      crvmonStatusCode_t& status);

/* Where the card sits: "0000:03:00.0" (PCI address) or "1-4-2" (chain of slot numbers);
 * "N/A" with CRVMON_STATUS_NOT_SUPPORTED when the card gave no location (Orvek only). */
CRVMON_API std::string crvmonGetPcieSlot(crvmonTargetDeviceType_t type, int index,
                                         crvmonStatusCode_t& status);

/* Signal type: 0 for Orvek cards, the host service's answer for Veltara devices
 * (CRVMON_STATUS_NOT_SUPPORTED when the service did not answer). */
CRVMON_API int crvmonGetSignalType(crvmonTargetDeviceType_t type, int index,
                                   crvmonStatusCode_t& status);

/* Chip id, 0-3 (Orvek only). */
CRVMON_API int crvmonGetChipId(crvmonTargetDeviceType_t type, int index,
                               crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Versions.
 * ------------------------------------------------------------------------------------------ */

/* Version text of the first opened device of a driver type, "major.minor.patch" or "N/A".
 * CRVMON_STATUS_NOT_INITIALIZED before crvmonInit, CRVMON_STATUS_DRIVER_NOT_FOUND when no
 * device of that driver type was opened ("N/A"). */
CRVMON_API std::string crvmonGetDriverVersion(crvmonDriverType_t type, crvmonStatusCode_t& status);

/* Driver revision of the first opened device of a driver type, 0xffffffff when it gave none.
 * CRVMON_STATUS_NOT_INITIALIZED before crvmonInit, CRVMON_STATUS_DRIVER_NOT_FOUND when no
 * device of that driver type was opened (result 0). */
CRVMON_API unsigned int crvmonGetDriverRevision(crvmonDriverType_t type,
                                                crvmonStatusCode_t& status);

/* Firmware version "major.minor" or "major.minor.patch"; "N/A" with CRVMON_STATUS_NOT_SUPPORTED
 * when the device gave none (Veltara devices). */
CRVMON_API std::string crvmonGetFirmwareVersion(crvmonTargetDeviceType_t type, int index,
                                                crvmonStatusCode_t& status);

/* Firmware revision and firmware CRC (Orvek only). */
CRVMON_API int crvmonGetFirmwareRevision(crvmonTargetDeviceType_t type, int index,
                                         crvmonStatusCode_t& status);
CRVMON_API int crvmonGetFirmwareCRC(crvmonTargetDeviceType_t type, int index,
                                    crvmonStatusCode_t& status);

/* Version "major.minor.patch" of the driver running on the device; "N/A" with
 * CRVMON_STATUS_NOT_SUPPORTED when the device has none (Orvek cards). */
CRVMON_API std::string crvmonGetOnDeviceDriverVersion(crvmonTargetDeviceType_t type, int index,
                                                      crvmonStatusCode_t& status);

/* Revision of the driver running on the device (Veltara only). */
CRVMON_API int crvmonGetOnDeviceDriverRevision(crvmonTargetDeviceType_t type, int index,
                                               crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Clocks. Live values: each call asks the device. Calls on one Orvek device must not overlap.
 * ------------------------------------------------------------------------------------------ */

/* NPU clock: in MHz on Orvek cards; on Veltara devices the number the host service answers,
 * passed on unscaled. CRVMON_STATUS_NOT_SUPPORTED (result -1) when the service cannot answer. */
CRVMON_API int crvmonGetNPUClock(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status);
/* Bus clock in MHz (Orvek only). */
CRVMON_API int crvmonGetBusClock(crvmonTargetDeviceType_t type, int index,
                                 crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Thermal. Live values.
 * ------------------------------------------------------------------------------------------ */

/* Chip temperature in degrees Celsius (both families; 0-255 on Orvek cards). */
CRVMON_API int crvmonGetTemperature(crvmonTargetDeviceType_t type, int index,
                                    crvmonStatusCode_t& status);
/* PCI Express switch temperature in degrees Celsius, 0-255 (Orvek only). */
CRVMON_API int crvmonGetPcieSwitchTemperature(crvmonTargetDeviceType_t type, int index,
                                              crvmonStatusCode_t& status);
/* Fan duty in percent, 0-127 (Orvek only). */
CRVMON_API int crvmonGetFanDuty(crvmonTargetDeviceType_t type, int index,
                                crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Power (Orvek only): the board's power monitor and the selected extra power-management IC.
 * Live values; CRVMON_STATUS_NOT_SUPPORTED and -1.0 on other devices.
 * ------------------------------------------------------------------------------------------ */

/* Board current in amperes, power in watts, voltage in volts. */
CRVMON_API double crvmonGetTotalCurrent(crvmonTargetDeviceType_t type, int index,
                                        crvmonStatusCode_t& status);
CRVMON_API double crvmonGetTotalPower(crvmonTargetDeviceType_t type, int index,
                                      crvmonStatusCode_t& status);
CRVMON_API double crvmonGetTotalVoltage(crvmonTargetDeviceType_t type, int index,
                                        crvmonStatusCode_t& status);
/* The selected extra PMIC's current (A), power (W) and voltage (V). */
CRVMON_API double crvmonGetExtraPmicCurrent(crvmonTargetDeviceType_t type, int index,
                                            crvmonStatusCode_t& status);
CRVMON_API double crvmonGetExtraPmicPower(crvmonTargetDeviceType_t type, int index,
                                          crvmonStatusCode_t& status);
CRVMON_API double crvmonGetExtraPmicVoltage(crvmonTargetDeviceType_t type, int index,
                                            crvmonStatusCode_t& status);
/* Which extra PMIC the readings above report, 0-3 (types 1 and 3); 0 on failure. */
CRVMON_API crvmonExtraPmicId_t crvmonGetExtraPmicId(crvmonTargetDeviceType_t type, int index,
                                                    crvmonStatusCode_t& status);
/* Selects the extra PMIC (low two bits of id). The one call that changes a device: target
 * type 3 only (CRVMON_STATUS_NOT_SUPPORTED otherwise), after the lookup's statuses
 * (CRVMON_STATUS_NOT_INITIALIZED, CRVMON_STATUS_TARGET_NOT_FOUND,
 * CRVMON_STATUS_INVALID_ARGUMENT). */
CRVMON_API crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index,
                                                   crvmonExtraPmicId_t id);

/* ---------------------------------------------------------------------------------------------
 * Memory.
 * ------------------------------------------------------------------------------------------ */

/* Device memory in bytes; 0 with CRVMON_STATUS_OK when the backend never reported a size. */
CRVMON_API long long crvmonGetMemoryTotal(crvmonTargetDeviceType_t type, int index,
                                          crvmonStatusCode_t& status);

/* Device memory in use, in bytes. CRVMON_STATUS_NOT_SUPPORTED (result -1) when the device
 * cannot tell. */
CRVMON_API long long crvmonGetMemoryUsage(crvmonTargetDeviceType_t type, int index,
                                          crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Utilisation. Live values.
 * ------------------------------------------------------------------------------------------ */

/* Busy time per core: ten records on an Orvek card (per cluster its whole entry, core 0xfffe,
 * then cores 1-4; times in millionths of the window), one on a Veltara device (cluster 0x10000,
 * core 1, the host service's activity window). CRVMON_STATUS_NOT_SUPPORTED and no records when
 * an Orvek card has no activity data. */
CRVMON_API std::vector<crvmonCoreInfo_t> crvmonGetCoreInfos(crvmonTargetDeviceType_t type,
                                                            int index, crvmonStatusCode_t& status);
/* Average busy percentage of the cores (the whole-cluster entries left out), capped at 100.
 * CRVMON_STATUS_NOT_SUPPORTED (-1.0) without data. */
CRVMON_API double crvmonGetTotalUtilization(crvmonTargetDeviceType_t type, int index,
                                            crvmonStatusCode_t& status);

/* ---------------------------------------------------------------------------------------------
 * Processes (Veltara only; CRVMON_STATUS_NOT_SUPPORTED and an empty list on Orvek cards).
 * ------------------------------------------------------------------------------------------ */

/* The processes using the device, in the order the host service lists them first, each once
 * with its counts summed; never the calling process. */
CRVMON_API std::vector<crvmonProcessInfo_t> crvmonGetProcessInfos(crvmonTargetDeviceType_t type,
                                                                  int index,
                                                                  crvmonStatusCode_t& status);

}  // namespace corvanta
#endif /* __cplusplus */

#endif /* CRVMON_H */
