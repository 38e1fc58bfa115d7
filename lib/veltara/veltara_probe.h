// Turns a Veltara node path into an opened device: its place in the host service's device
// list, an open client, the on-device and host USB drivers' versions, its kind, signal type
// and memory size.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "lib/registry/device_record.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

// Opens the device at the list position the path ends in ("/dev/veltara-usb1": the second
// device listed); a record with open false, holding no client, when there is none.
DeviceRecord probeVeltaraDevice(const std::string& nodePath);

// The record of an opened device, from its driver information and signal type. The
// information is asked for again; when that fails, `earlierInfo`, the reply the probe has just
// had, stands in for it.
DeviceRecord buildVeltaraRecord(VeltaraClient* client,
                                std::span<const std::uint8_t, wire::kDriverInfoSize> earlierInfo);

// Target type from the driver information's flags: kind 0 or no kind 5, kind 1 6, else none.
crvmonTargetDeviceType_t targetTypeFromFlags(std::uint32_t flags);

}  // namespace crvmon::veltara
