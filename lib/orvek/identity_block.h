// The card's identity as the driver answers it: the 128-byte block, or the 1040-byte table of
// older drivers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "lib/monitor/monitor_records.h"

namespace crvmon::orvek {

// Fills the identity and location fields of a cleared record from a 128-byte block (bytes the
// driver did not transfer read as 0).
MonitorInfo parseDeviceInfo(std::span<const std::uint8_t, 128> block);

// Fills ids, PCI Express bytes and driver version from the older table; nothing when the table
// names an entry it does not hold.
std::optional<MonitorInfo> parseLegacyTable(std::span<const std::uint8_t, 1040> table);

// Firmware version code of an identity record: major << 24 | minor << 16 | patch.
std::uint32_t firmwareVersionCode(const MonitorInfo& info);

}  // namespace crvmon::orvek
