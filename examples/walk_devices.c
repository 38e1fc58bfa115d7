/* Walks every device the library finds and prints every value it has, through the flat API.
 * A value a device does not have prints as N/A. */
#include <stdio.h>

#include "crvmon.h"

static const crvmonTargetDeviceType_t kTypes[] = {
    CRVMON_TARGET_ORVEK,
    CRVMON_TARGET_VELTARA,
    CRVMON_TARGET_ORVEK_PCIE,
    CRVMON_TARGET_VELTARA_RESERVED,
    CRVMON_TARGET_VELTARA_USB_KIND0,
    CRVMON_TARGET_VELTARA_USB_KIND1,
};

typedef crvmonStatusCode_t (*IntGetter)(crvmonTargetDeviceType_t, int, int*);
typedef crvmonStatusCode_t (*DoubleGetter)(crvmonTargetDeviceType_t, int, double*);
typedef crvmonStatusCode_t (*TextGetter)(crvmonTargetDeviceType_t, int, char*, unsigned int);

static void printInt(const char* name, IntGetter get, crvmonTargetDeviceType_t t, int i) {
    int value;
    if (get(t, i, &value) == CRVMON_STATUS_OK) {
        printf("  %-26s %d\n", name, value);
    } else {
        printf("  %-26s N/A\n", name);
    }
}

static void printDouble(const char* name, DoubleGetter get, crvmonTargetDeviceType_t t, int i) {
    double value;
    if (get(t, i, &value) == CRVMON_STATUS_OK) {
        printf("  %-26s %.3f\n", name, value);
    } else {
        printf("  %-26s N/A\n", name);
    }
}

static void printText(const char* name, TextGetter get, crvmonTargetDeviceType_t t, int i) {
    char text[128];
    printf("  %-26s %s\n", name, get(t, i, text, sizeof text) == CRVMON_STATUS_OK ? text : "N/A");
}

static void printDevice(crvmonTargetDeviceType_t t, int i) {
    long long bytes;
    crvmonDriverType_t driver;
    crvmonExtraPmicId_t pmic;
    crvmonCoreInfo_t cores[16];
    crvmonProcessInfo_t processes[64];
    unsigned int count, k;

    printf("device %d:%d\n", (int)t, i);
    printText("node", crvmonGetNodeName, t, i);
    if (crvmonGetDriverType(t, i, &driver) == CRVMON_STATUS_OK)
        printf("  %-26s %d\n", "driver type", (int)driver);
    printInt("vendor id", crvmonGetVendorId, t, i);
    printInt("device id", crvmonGetDeviceId, t, i);
    printInt("subsystem vendor id", crvmonGetSubVendorId, t, i);
    printInt("subsystem id", crvmonGetSubDeviceId, t, i);
    printInt("PCIe generation", crvmonGetPcieGen, t, i);
    printInt("PCIe lanes", crvmonGetPcieLanes, t, i);
    printInt("PCIe revision", crvmonGetPcieRev, t, i);
    printInt("PCIe class code", crvmonGetPcieClassCode, t, i);
    printText("PCIe slot", crvmonGetPcieSlot, t, i);
    printText("firmware version", crvmonGetFirmwareVersion, t, i);
    printInt("firmware revision", crvmonGetFirmwareRevision, t, i);
    printInt("firmware CRC", crvmonGetFirmwareCRC, t, i);
    printText("on-device driver version", crvmonGetOnDeviceDriverVersion, t, i);
    printInt("on-device driver revision", crvmonGetOnDeviceDriverRevision, t, i);
    printInt("signal type", crvmonGetSignalType, t, i);
    printInt("chip id", crvmonGetChipId, t, i);
    printInt("NPU clock (MHz)", crvmonGetNPUClock, t, i);
    printInt("bus clock (MHz)", crvmonGetBusClock, t, i);
    printInt("temperature (C)", crvmonGetTemperature, t, i);
    printInt("switch temperature (C)", crvmonGetPcieSwitchTemperature, t, i);
    printInt("fan duty (%)", crvmonGetFanDuty, t, i);
    printDouble("board voltage (V)", crvmonGetTotalVoltage, t, i);
    printDouble("board current (A)", crvmonGetTotalCurrent, t, i);
    printDouble("board power (W)", crvmonGetTotalPower, t, i);
    if (crvmonGetExtraPmicId(t, i, &pmic) == CRVMON_STATUS_OK)
        printf("  %-26s %d\n", "extra PMIC", (int)pmic);
    printDouble("extra PMIC voltage (V)", crvmonGetExtraPmicVoltage, t, i);
    printDouble("extra PMIC current (A)", crvmonGetExtraPmicCurrent, t, i);
    printDouble("extra PMIC power (W)", crvmonGetExtraPmicPower, t, i);
    if (crvmonGetMemoryTotal(t, i, &bytes) == CRVMON_STATUS_OK)
        printf("  %-26s %lld\n", "memory (bytes)", bytes);
    if (crvmonGetMemoryUsage(t, i, &bytes) == CRVMON_STATUS_OK)
        printf("  %-26s %lld\n", "memory in use (bytes)", bytes);
    printDouble("utilisation (%)", crvmonGetTotalUtilization, t, i);

    /* Ask for the number of records, then fetch them. */
    count = sizeof cores / sizeof cores[0];
    if (crvmonGetCoreInfos(t, i, cores, &count) == CRVMON_STATUS_OK) {
        for (k = 0; k < count; ++k) {
            printf("  core %#x/%#x busy %lld of %lld\n", cores[k].cluster, cores[k].core,
                   (long long)cores[k].busyTime, (long long)cores[k].totalTime);
        }
    }
    count = 0;
    if (crvmonGetProcessInfos(t, i, NULL, &count) == CRVMON_STATUS_OK && count > 0) {
        if (count > sizeof processes / sizeof processes[0])
            count = sizeof processes / sizeof processes[0];
        if (crvmonGetProcessInfos(t, i, processes, &count) == CRVMON_STATUS_OK) {
            for (k = 0; k < count; ++k) {
                printf("  process %d: quantity %u amount %llu busy %lld of %lld\n",
                       processes[k].pid, processes[k].quantity,
                       (unsigned long long)processes[k].amount, (long long)processes[k].busyTime,
                       (long long)processes[k].totalTime);
            }
        }
    }
}

int main(void) {
    size_t t;
    crvmonStatusCode_t status = crvmonInit();
    if (status != CRVMON_STATUS_OK) {
        fprintf(stderr, "walk_devices: %s\n", crvmonStatusString(status));
        return 1;
    }
    for (t = 0; t < sizeof kTypes / sizeof kTypes[0]; ++t) {
        int count = 0, i;
        crvmonGetTargetDeviceCount(kTypes[t], &count);
        for (i = 0; i < count; ++i) printDevice(kTypes[t], i);
    }
    crvmonShutdown();
    return 0;
}
