// Turns an Orvek node path into an opened card: identity, versions, PCI Express attributes,
// memory size and slot in the device record, and its monitor in the monitor table.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "lib/monitor/monitor_records.h"
#include "lib/registry/device_record.h"

namespace crvmon::orvek {

// Where the card sits: "0000:03:00.0" for a PCI address, "1-4-2" for a chain of slot numbers,
// empty for any other location kind.
std::string locationText(const MonitorInfo& info);

// The device record of an opened card, from its monitor's identity record (no key yet).
DeviceRecord describeCard(const MonitorInfo& info);

// Opens the card of the node path; a record with open false when there is none.
DeviceRecord probeOrvekDevice(const std::string& nodePath);

// Keys of the monitor table: never reset, so unique for the life of the process.
extern std::atomic<std::int32_t> nextMonitorKey;

}  // namespace crvmon::orvek
