#include "fuzz/support/every_value.h"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "crvmon.h"
#include "fuzz/support/fuzz_check.h"

namespace crvmon::fuzz {
namespace {

constexpr std::array<crvmonTargetDeviceType_t, 6> kTypes = {
    CRVMON_TARGET_ORVEK,
    CRVMON_TARGET_VELTARA,
    CRVMON_TARGET_ORVEK_PCIE,
    CRVMON_TARGET_VELTARA_RESERVED,
    CRVMON_TARGET_VELTARA_USB_KIND0,
    CRVMON_TARGET_VELTARA_USB_KIND1,
};

void checkStatus(crvmonStatusCode_t status, const char* what) {
    FUZZ_REQUIRE(status >= CRVMON_STATUS_OK && status <= CRVMON_STATUS_TARGET_NOT_FOUND,
                 "%s: unknown status %d", what, static_cast<int>(status));
}

template <class T>
void value(crvmonTargetDeviceType_t type, int index, const char* what,
           crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, T*)) {
    T out{};
    const crvmonStatusCode_t status = getter(type, index, &out);
    checkStatus(status, what);
    if constexpr (std::is_floating_point_v<T>) {
        FUZZ_REQUIRE(std::isfinite(out), "%s: %f with status %d", what, out, status);
        if (status != CRVMON_STATUS_OK) FUZZ_REQUIRE(out == -1.0, "%s: failed with %f", what, out);
    }
    FUZZ_REQUIRE(getter(type, index, nullptr) == CRVMON_STATUS_INVALID_ARGUMENT,
                 "%s: a null slot was accepted", what);
}

// A buffer with guard bytes past the size the library is told of.
void text(crvmonTargetDeviceType_t type, int index, const char* what,
          crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, char*, unsigned)) {
    for (unsigned size : {0u, 1u, 8u, 200u}) {
        std::vector<char> buffer(size + 16, '\x7f');
        const crvmonStatusCode_t status = getter(type, index, buffer.data(), size);
        checkStatus(status, what);
        for (std::size_t i = size; i < buffer.size(); ++i) {
            FUZZ_REQUIRE(buffer[i] == '\x7f', "%s: wrote past a buffer of %u", what, size);
        }
        if (status == CRVMON_STATUS_OK) {
            FUZZ_REQUIRE(std::memchr(buffer.data(), 0, size) != nullptr,
                         "%s: no terminating NUL within %u bytes", what, size);
        } else {
            for (std::size_t i = 0; i < size; ++i) {
                FUZZ_REQUIRE(buffer[i] == '\x7f', "%s: failed (%d) and wrote the buffer", what,
                             status);
            }
        }
    }
}

template <class Record>
void records(crvmonTargetDeviceType_t type, int index, const char* what,
             crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, Record*, unsigned*)) {
    unsigned count = 0;
    crvmonStatusCode_t status = getter(type, index, nullptr, &count);
    checkStatus(status, what);
    if (status != CRVMON_STATUS_OK) return;
    // The count may grow before the read; a guard record past the array shows an overrun.
    FUZZ_REQUIRE(count <= 1'000'000, "%s: %u records", what, count);
    const unsigned capacity = count + 1;
    std::vector<Record> array(capacity + 1);
    std::memset(static_cast<void*>(&array.back()), 0x5a, sizeof(Record));
    unsigned asked = capacity;
    status = getter(type, index, array.data(), &asked);
    checkStatus(status, what);
    Record guard;
    std::memset(static_cast<void*>(&guard), 0x5a, sizeof guard);
    FUZZ_REQUIRE(std::memcmp(&array.back(), &guard, sizeof guard) == 0,
                 "%s: wrote past an array of %u", what, capacity);
    if (status == CRVMON_STATUS_OK) {
        FUZZ_REQUIRE(asked <= capacity, "%s: %u records in an array of %u", what, asked, capacity);
    }
    FUZZ_REQUIRE(
        getter(type, index, nullptr, &asked) == CRVMON_STATUS_INVALID_ARGUMENT || asked == 0,
        "%s: a null array with a count was accepted", what);
    FUZZ_REQUIRE(getter(type, index, array.data(), nullptr) == CRVMON_STATUS_INVALID_ARGUMENT,
                 "%s: a null count was accepted", what);
}

void readDevice(crvmonTargetDeviceType_t t, int i) {
    text(t, i, "node name", crvmonGetNodeName);
    value(t, i, "driver type", crvmonGetDriverType);
    value(t, i, "vendor id", crvmonGetVendorId);
    value(t, i, "device id", crvmonGetDeviceId);
    value(t, i, "subsystem vendor id", crvmonGetSubVendorId);
    value(t, i, "subsystem id", crvmonGetSubDeviceId);
    value(t, i, "PCIe generation", crvmonGetPcieGen);
    value(t, i, "PCIe lanes", crvmonGetPcieLanes);
    value(t, i, "PCIe revision", crvmonGetPcieRev);
    value(t, i, "PCIe class code", crvmonGetPcieClassCode);
    text(t, i, "PCIe slot", crvmonGetPcieSlot);
    value(t, i, "signal type", crvmonGetSignalType);
    value(t, i, "chip id", crvmonGetChipId);
    text(t, i, "firmware version", crvmonGetFirmwareVersion);
    value(t, i, "firmware revision", crvmonGetFirmwareRevision);
    value(t, i, "firmware CRC", crvmonGetFirmwareCRC);
    text(t, i, "on-device driver version", crvmonGetOnDeviceDriverVersion);
    value(t, i, "on-device driver revision", crvmonGetOnDeviceDriverRevision);
    value(t, i, "NPU clock", crvmonGetNPUClock);
    value(t, i, "bus clock", crvmonGetBusClock);
    value(t, i, "temperature", crvmonGetTemperature);
    value(t, i, "switch temperature", crvmonGetPcieSwitchTemperature);
    value(t, i, "fan duty", crvmonGetFanDuty);
    value(t, i, "board current", crvmonGetTotalCurrent);
    value(t, i, "board power", crvmonGetTotalPower);
    value(t, i, "board voltage", crvmonGetTotalVoltage);
    value(t, i, "extra PMIC current", crvmonGetExtraPmicCurrent);
    value(t, i, "extra PMIC power", crvmonGetExtraPmicPower);
    value(t, i, "extra PMIC voltage", crvmonGetExtraPmicVoltage);
    value(t, i, "extra PMIC id", crvmonGetExtraPmicId);
    value(t, i, "memory total", crvmonGetMemoryTotal);
    value(t, i, "memory used", crvmonGetMemoryUsage);
    records(t, i, "core infos", crvmonGetCoreInfos);
    records(t, i, "process infos", crvmonGetProcessInfos);

    double utilization = 0;
    if (crvmonGetTotalUtilization(t, i, &utilization) == CRVMON_STATUS_OK) {
        FUZZ_REQUIRE(std::isfinite(utilization) && utilization >= 0, "utilisation %f", utilization);
    }
}

}  // namespace

void readDeviceValues(int type, int index) {
    readDevice(static_cast<crvmonTargetDeviceType_t>(type), index);
}

void readEveryValue() {
    int total = 0;
    checkStatus(crvmonGetDeviceCount(&total), "device count");
    for (crvmonTargetDeviceType_t type : kTypes) {
        int count = 0;
        const crvmonStatusCode_t status = crvmonGetTargetDeviceCount(type, &count);
        checkStatus(status, "target device count");
        FUZZ_REQUIRE(count >= 0 && count <= total, "%d devices of type %d, %d in all", count,
                     static_cast<int>(type), total);
        // One index past the end too, which must fail with a status.
        for (int index = 0; index <= count; ++index) readDevice(type, index);
    }
    for (crvmonDriverType_t driver :
         {CRVMON_DRIVER_ORVEK, CRVMON_DRIVER_VELTARA_NPU, CRVMON_DRIVER_VELTARA_USB}) {
        std::array<char, 64> version{};
        checkStatus(crvmonGetDriverVersion(driver, version.data(), version.size()),
                    "driver version");
        unsigned revision = 0;
        checkStatus(crvmonGetDriverRevision(driver, &revision), "driver revision");
    }
}

}  // namespace crvmon::fuzz
