// What the library holds for the life of the process: built empty when the library is loaded,
// torn down when it is unloaded.
#pragma once

#include "lib/monitor/monitor_table.h"
#include "lib/registry/device_registry.h"

namespace crvmon {

struct LibraryState {
    // Members are destroyed in reverse order: the registry's shutdown, which removes Orvek
    // monitors from the monitor table, must run while that table still exists, so the table is
    // declared before the registry.
    MonitorTable monitors;
    DeviceRegistry registry;
};

LibraryState& libraryState();

inline DeviceRegistry& registry() {
    return libraryState().registry;
}

}  // namespace crvmon
