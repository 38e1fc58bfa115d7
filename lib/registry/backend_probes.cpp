#include "registry/backend_probes.h"

namespace crvmon {

namespace {

// No backend is built in yet: every node path stays closed and nothing is held to release.
DeviceRecord closedRecord(const std::string&) { return DeviceRecord{}; }
void releaseNothing(std::int32_t) {}
void closeNothing(VeltaraClient*) {}

BackendProbes& installed() {
    static BackendProbes probes = libraryBackendProbes();
    return probes;
}

}  // namespace

BackendProbes libraryBackendProbes() {
    return BackendProbes{&closedRecord, &closedRecord, &releaseNothing, &closeNothing};
}

const BackendProbes& backendProbes() { return installed(); }

void installBackendProbes(const BackendProbes& probes) { installed() = probes; }

void restoreBackendProbes() { installed() = libraryBackendProbes(); }

}  // namespace crvmon
