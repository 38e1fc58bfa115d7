// The frame every device getter shares: look the device up, return the error value when that
// fails, otherwise answer from the device.
#pragma once

#include <cstdint>

#include "lib/api/api_guard.h"
#include "lib/api/library_state.h"

namespace crvmon {

// Runs `answer(record, status)` on the device at (type, index), or returns `errorValue` with
// the lookup's status.
template <class Result, class Answer>
Result withDevice(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status,
                  Result errorValue, Answer&& answer) noexcept {
    return guarded(status, errorValue, [&]() -> Result {
        const DeviceHandle* device = registry().lookupDevice(type, index, status);
        if (device == nullptr) return errorValue;
        return answer(device->record(), status);
    });
}

}  // namespace crvmon
