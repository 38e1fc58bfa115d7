// Where the registry meets the backends the library is built with.
#include "monitor/monitor_table.h"
#include "orvek/orvek_discovery.h"
#include "registry/backend_probes.h"
#include "veltara/client/veltara_client.h"
#include "veltara/veltara_probe.h"

namespace crvmon {

namespace {

void removeMonitor(std::int32_t key) { monitorTable().remove(key); }
void closeClient(VeltaraClient* client) { veltara::veltara_close(client); }

}  // namespace

BackendProbes libraryBackendProbes() {
    return BackendProbes{&orvek::probeOrvekDevice, &veltara::probeVeltaraDevice, &removeMonitor,
                         &closeClient};
}

}  // namespace crvmon
