// The flat functions with any arguments a caller could pass: target types and indexes in and
// out of range, null pointers, buffers and record arrays of any size (allocated to exactly the
// size the library is told, so that a byte written past it is caught), extra-PMIC ids out of
// range, and initialisation and shutdown in any order, against the built-in simulated machine.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "crvmon.h"
#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_machine.h"
#include "sim/simulator.h"

namespace {

using ValueInt = crvmonStatusCode_t (*)(crvmonTargetDeviceType_t, int, int*);
using ValueDouble = crvmonStatusCode_t (*)(crvmonTargetDeviceType_t, int, double*);
using ValueLong = crvmonStatusCode_t (*)(crvmonTargetDeviceType_t, int, long long*);
using Text = crvmonStatusCode_t (*)(crvmonTargetDeviceType_t, int, char*, unsigned);

constexpr ValueInt kInts[] = {
    crvmonGetVendorId,
    crvmonGetDeviceId,
    crvmonGetSubVendorId,
    crvmonGetSubDeviceId,
    crvmonGetPcieGen,
    crvmonGetPcieLanes,
    crvmonGetPcieRev,
    crvmonGetPcieClassCode,
    crvmonGetSignalType,
    crvmonGetChipId,
    crvmonGetFirmwareRevision,
    crvmonGetFirmwareCRC,
    crvmonGetOnDeviceDriverRevision,
    crvmonGetNPUClock,
    crvmonGetBusClock,
    crvmonGetTemperature,
    crvmonGetPcieSwitchTemperature,
    crvmonGetFanDuty,
};
constexpr ValueDouble kDoubles[] = {
    crvmonGetTotalCurrent,     crvmonGetTotalPower,     crvmonGetTotalVoltage,
    crvmonGetExtraPmicCurrent, crvmonGetExtraPmicPower, crvmonGetExtraPmicVoltage,
    crvmonGetTotalUtilization,
};
constexpr ValueLong kLongs[] = {crvmonGetMemoryTotal, crvmonGetMemoryUsage};
constexpr Text kTexts[] = {crvmonGetNodeName, crvmonGetPcieSlot, crvmonGetFirmwareVersion,
                           crvmonGetOnDeviceDriverVersion};

int anyInt(FuzzedDataProvider& input) {
    constexpr int kInteresting[] = {0,
                                    1,
                                    2,
                                    3,
                                    4,
                                    5,
                                    6,
                                    7,
                                    -1,
                                    std::numeric_limits<int>::min(),
                                    std::numeric_limits<int>::max()};
    if (input.ConsumeBool()) return input.PickValueInArray(kInteresting);
    return input.ConsumeIntegral<int>();
}

void checkStatus(crvmonStatusCode_t status) {
    FUZZ_REQUIRE(status >= CRVMON_STATUS_OK && status <= CRVMON_STATUS_TARGET_NOT_FOUND,
                 "unknown status %d", static_cast<int>(status));
}

template <class T>
void callValue(FuzzedDataProvider& input,
               crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, T*)) {
    const auto type = static_cast<crvmonTargetDeviceType_t>(anyInt(input));
    const int index = anyInt(input);
    if (input.ConsumeBool()) {
        FUZZ_REQUIRE(getter(type, index, nullptr) == CRVMON_STATUS_INVALID_ARGUMENT,
                     "null slot accepted");
        return;
    }
    auto slot = std::make_unique<T>();
    checkStatus(getter(type, index, slot.get()));
}

void callText(FuzzedDataProvider& input, Text getter) {
    const auto type = static_cast<crvmonTargetDeviceType_t>(anyInt(input));
    const int index = anyInt(input);
    const unsigned size = input.ConsumeIntegralInRange<unsigned>(0, 300);
    // Exactly `size` bytes, so AddressSanitizer sees a write past them.
    std::unique_ptr<char[]> buffer(size > 0 ? new char[size] : nullptr);
    const crvmonStatusCode_t status = getter(type, index, buffer.get(), size);
    checkStatus(status);
    if (!buffer) FUZZ_REQUIRE(status == CRVMON_STATUS_INVALID_ARGUMENT, "null buffer accepted");
}

template <class Record>
void callRecords(FuzzedDataProvider& input,
                 crvmonStatusCode_t (*getter)(crvmonTargetDeviceType_t, int, Record*, unsigned*)) {
    const auto type = static_cast<crvmonTargetDeviceType_t>(anyInt(input));
    const int index = anyInt(input);
    unsigned count = input.ConsumeIntegralInRange<unsigned>(0, 40);
    const bool withArray = input.ConsumeBool();
    std::unique_ptr<Record[]> array(withArray && count > 0 ? new Record[count] : nullptr);
    const unsigned asked = count;
    const crvmonStatusCode_t status =
        getter(type, index, array.get(), input.ConsumeBool() ? &count : nullptr);
    checkStatus(status);
    if (status == CRVMON_STATUS_OK && asked > 0) {
        FUZZ_REQUIRE(array != nullptr && count <= asked, "%u records into %u", count, asked);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    crvmon::fuzz::prepareMachine();
    static crvmon::sim::Simulator simulator(crvmon::sim::builtInScenario(),
                                            std::make_shared<crvmon::sim::ManualSimClock>());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    bool initialised = false;
    for (int call = 0; call < 16 && input.remaining_bytes() > 0; ++call) {
        switch (input.ConsumeIntegralInRange(0, 11)) {
            case 0: initialised = crvmonInit() == CRVMON_STATUS_OK || initialised; break;
            case 1:
                checkStatus(crvmonShutdown());
                initialised = false;
                break;
            case 2: callValue(input, input.PickValueInArray(kInts)); break;
            case 3: callValue(input, input.PickValueInArray(kDoubles)); break;
            case 4: callValue(input, input.PickValueInArray(kLongs)); break;
            case 5: callText(input, input.PickValueInArray(kTexts)); break;
            case 6: callRecords(input, crvmonGetCoreInfos); break;
            case 7: callRecords(input, crvmonGetProcessInfos); break;
            case 8: {
                const auto type = static_cast<crvmonTargetDeviceType_t>(anyInt(input));
                const int index = anyInt(input);
                const auto id = static_cast<crvmonExtraPmicId_t>(anyInt(input));
                const crvmonStatusCode_t status = crvmonSetExtraPmicID(type, index, id);
                checkStatus(status);
                crvmonExtraPmicId_t selected = CRVMON_EXTRA_PMIC_0;
                // Only the id's low two bits select: any id is a selector, never another register.
                if (status == CRVMON_STATUS_OK &&
                    crvmonGetExtraPmicId(type, index, &selected) == CRVMON_STATUS_OK) {
                    FUZZ_REQUIRE(selected == (static_cast<unsigned>(id) & 3u),
                                 "extra PMIC id %d selected %d", static_cast<int>(id),
                                 static_cast<int>(selected));
                }
                break;
            }
            case 9: {
                const auto driver = static_cast<crvmonDriverType_t>(anyInt(input));
                const unsigned bytes = input.ConsumeIntegralInRange<unsigned>(0, 64);
                std::unique_ptr<char[]> buffer(bytes > 0 ? new char[bytes] : nullptr);
                checkStatus(crvmonGetDriverVersion(driver, buffer.get(), bytes));
                unsigned revision = 0;
                checkStatus(
                    crvmonGetDriverRevision(driver, input.ConsumeBool() ? &revision : nullptr));
                break;
            }
            case 10: {
                int count = 0;
                checkStatus(
                    crvmonGetTargetDeviceCount(static_cast<crvmonTargetDeviceType_t>(anyInt(input)),
                                               input.ConsumeBool() ? &count : nullptr));
                checkStatus(crvmonGetDeviceCount(input.ConsumeBool() ? &count : nullptr));
                break;
            }
            default: {
                // Status texts exist for every number, known or not.
                const char* text =
                    crvmonStatusString(static_cast<crvmonStatusCode_t>(anyInt(input)));
                FUZZ_REQUIRE(text != nullptr, "no status text");
                break;
            }
        }
    }
    if (initialised) crvmonShutdown();
    return 0;
}
