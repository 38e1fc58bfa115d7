// The on-device driver and the host USB driver must agree on one revision, and the host USB
// driver's own version must have revision 0.
#pragma once

#include <cstdint>

#include "lib/registry/device_record.h"

namespace crvmon {

class VeltaraClient;

namespace veltara {

// True when the host USB driver supports this on-device revision; otherwise two lines on
// standard error say which side to update (none when the host cannot be asked).
bool checkDriverRevision(VeltaraClient* client, std::uint16_t onDeviceRevision);

// Moves the record's driver version (the on-device one) to its on-device driver version and
// puts the host USB driver's version in its place; false, silently, when the host cannot be
// asked or its version's revision is not 0.
bool adoptHostDriverVersion(VeltaraClient* client, DeviceRecord& record);

}  // namespace veltara
}  // namespace crvmon
