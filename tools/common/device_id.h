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
// veltara-reserved, veltara-kind0, veltara-kind1; veltara-usb0 and veltara-usb1 are the older
// names of the last two) and INDEX a non-negative decimal number. nullopt for anything else.
std::optional<DeviceId> parseDeviceId(std::string_view text);

// The target type's name as parseDeviceId takes it ("orvek-pcie"). The Veltara kinds are named
// by kind ("veltara-kind0"), not in a way that reads like a node ("/dev/veltara-usb0").
const char* targetTypeName(crvmonTargetDeviceType_t type);

// What a device is known by besides its id: its node and its PCI address or USB slot chain.
struct DeviceFacts {
    DeviceId id;
    std::optional<std::string> node;  // "/dev/orvek0"
    std::optional<std::string> slot;  // "0000:03:00.0", "1-4-2"
};

// The facts of each listed device, read through the flat functions (the library initialised).
std::vector<DeviceFacts> readDeviceFacts(const std::vector<DeviceId>& devices);

// A device as people type it from other tools: TYPE:INDEX ("3:0", "orvek-pcie:0"), a position
// in the listing ("0"), a node ("/dev/orvek0" or "orvek0"), a PCI address ("0000:03:00.0" or
// "03:00.0") or a USB slot chain ("1-4-2").
//
// The form alone, before any device is known: what is wrong with a TYPE:INDEX whose type is
// unknown or whose index is no whole number; nullopt when the text may name a device.
std::optional<std::string> deviceTextError(std::string_view text);

// The device the text names, or a message saying why none is: an index past the end (and how
// many there are), a type with no device here (and the types the family's devices have), or a
// text that is no id, position, node or slot of any device.
struct DeviceMatch {
    std::optional<DeviceId> id;
    std::string error;
};
DeviceMatch findDevice(std::string_view text, const std::vector<DeviceFacts>& devices);

// The target types a device can be addressed by, in the order the tools list them.
const std::vector<crvmonTargetDeviceType_t>& addressableTargetTypes();

struct DeviceList {
    std::vector<DeviceId> devices;  // every addressable device, by target type then index
    int unaddressable = 0;          // devices counted by the library but of no target type
};

// The library must be initialised.
DeviceList listDevices();

}  // namespace crvmon::tools
