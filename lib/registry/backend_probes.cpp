#include "lib/registry/backend_probes.h"

namespace crvmon {

namespace {

BackendProbes& installed() {
    static BackendProbes probes = libraryBackendProbes();
    return probes;
}

}  // namespace

const BackendProbes& backendProbes() {
    return installed();
}

void installBackendProbes(const BackendProbes& probes) {
    installed() = probes;
}

void restoreBackendProbes() {
    installed() = libraryBackendProbes();
}

}  // namespace crvmon
