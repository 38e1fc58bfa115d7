// Where the registry meets the backends the library is built with.
#include "monitor/monitor_table.h"
#include "orvek/orvek_discovery.h"
#include "registry/backend_probes.h"

namespace crvmon {

namespace {

// The Veltara backend is not built in yet: its node paths stay closed.
DeviceRecord veltaraNotBuiltIn(const std::string&) { return DeviceRecord{}; }
void noClient(VeltaraClient*) {}

void removeMonitor(std::int32_t key) { monitorTable().remove(key); }

}  // namespace

BackendProbes libraryBackendProbes() {
    return BackendProbes{&orvek::probeOrvekDevice, &veltaraNotBuiltIn, &removeMonitor, &noClient};
}

}  // namespace crvmon
