// The one place where a device handle meets the backends: the probe that opens a node path of a
// chip family, and the release of what an open device holds. The backends fill this table in;
// tests put stand-ins in its place.
#pragma once

#include <cstdint>
#include <string>

#include "lib/registry/device_record.h"

namespace crvmon {

struct BackendProbes {
    // Opens the device behind a node path; a record with open false when it does not open, after
    // releasing whatever the probe had opened.
    DeviceRecord (*probeOrvek)(const std::string& nodePath);
    DeviceRecord (*probeVeltara)(const std::string& nodePath);
    // Removes an Orvek device's monitor from the monitor table, which closes and deletes it.
    void (*removeMonitor)(std::int32_t monitorKey);
    // Closes a Veltara device's host-service client.
    void (*closeClient)(VeltaraClient* client);
};

// The table in force: the library's own backends unless replaced.
const BackendProbes& backendProbes();

// Replaces the table (tests), or puts the library's own back.
void installBackendProbes(const BackendProbes& probes);
void restoreBackendProbes();

// The library's own backends, wired where the library is put together.
BackendProbes libraryBackendProbes();

}  // namespace crvmon
