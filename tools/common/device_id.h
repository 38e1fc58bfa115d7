// How the tools name a device: its target type and its index within that type ("3:0").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crvmon.h"

namespace crvmon::tools {

enum class Family { Orvek, Veltara, Unknown };

struct DeviceId {
    crvmonTargetDeviceType_t type = CRVMON_TARGET_NONE;
    int index = 0;

    friend bool operator==(const DeviceId&, const DeviceId&) = default;
};

Family familyOf(crvmonTargetDeviceType_t type);
const char* familyName(Family family);  // "Orvek", "Veltara", "unknown"

// "3:0".
std::string formatDeviceId(const DeviceId& id);

// "TYPE:INDEX" with TYPE a target type number (1-6) or its name (orvek, veltara, orvek-pcie,
// veltara-reserved, veltara-usb0, veltara-usb1) and INDEX a non-negative decimal number.
// nullopt for anything else.
std::optional<DeviceId> parseDeviceId(std::string_view text);

// The target type's name as parseDeviceId takes it ("orvek-pcie").
const char* targetTypeName(crvmonTargetDeviceType_t type);

// The target types a device can be addressed by, in the order the tools list them.
const std::vector<crvmonTargetDeviceType_t>& addressableTargetTypes();

struct DeviceList {
    std::vector<DeviceId> devices;  // every addressable device, by target type then index
    int unaddressable = 0;          // devices counted by the library but of no target type
};

// The library must be initialised.
DeviceList listDevices();

}  // namespace crvmon::tools
