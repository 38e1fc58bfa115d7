// Where the registry meets the backends the library is built with.
#include "lib/monitor/monitor_table.h"
#include "lib/orvek/orvek_discovery.h"
#include "lib/registry/backend_probes.h"
#include "lib/veltara/client/veltara_client.h"
#include "lib/veltara/veltara_probe.h"

namespace crvmon {

namespace {

void removeMonitor(std::int32_t key) {
    monitorTable().remove(key);
}
void closeClient(VeltaraClient* client) {
    veltara::veltara_close(client);
}

}  // namespace

BackendProbes libraryBackendProbes() {
    return BackendProbes{&orvek::probeOrvekDevice, &veltara::probeVeltaraDevice, &removeMonitor,
                         &closeClient};
}

}  // namespace crvmon
