// Which chip family a target type belongs to.
#pragma once

#include "crvmon.h"

namespace crvmon {

constexpr bool isOrvekTarget(crvmonTargetDeviceType_t type) {
    return type == CRVMON_TARGET_ORVEK || type == CRVMON_TARGET_ORVEK_PCIE;
}

constexpr bool isVeltaraTarget(crvmonTargetDeviceType_t type) {
    return type == CRVMON_TARGET_VELTARA || type == CRVMON_TARGET_VELTARA_RESERVED ||
           type == CRVMON_TARGET_VELTARA_USB_KIND0 || type == CRVMON_TARGET_VELTARA_USB_KIND1;
}

}  // namespace crvmon
