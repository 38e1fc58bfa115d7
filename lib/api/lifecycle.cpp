// Initialisation, shutdown and the two device counts.
#include "crvmon.h"
#include "lib/api/api_guard.h"
#include "lib/api/library_state.h"

namespace corvanta {

using crvmon::guarded;
using crvmon::registry;

crvmonStatusCode_t crvmonInit() {
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    return guarded(status, CRVMON_STATUS_NOT_INITIALIZED, [] {
        return registry().initialise(
            {CRVMON_DRIVER_ORVEK, CRVMON_DRIVER_VELTARA_NPU, CRVMON_DRIVER_VELTARA_USB});
    });
}

crvmonStatusCode_t crvmonShutdown() {
    return registry().shutdown();
}

int crvmonGetDeviceCount(crvmonStatusCode_t& status) {
    if (!registry().initialised()) {
        status = CRVMON_STATUS_NOT_INITIALIZED;
        return 0;
    }
    status = CRVMON_STATUS_OK;
    return static_cast<int>(registry().deviceCount());
}

int crvmonGetTargetDeviceCount(crvmonTargetDeviceType_t type, crvmonStatusCode_t& status) {
    if (!registry().initialised()) {
        status = CRVMON_STATUS_NOT_INITIALIZED;
        return 0;
    }
    status = CRVMON_STATUS_OK;
    const auto& index = registry().indexByTarget();
    auto entry = index.find(static_cast<std::int32_t>(type));
    return entry == index.end() ? 0 : static_cast<int>(entry->second.size());
}

}  // namespace corvanta
