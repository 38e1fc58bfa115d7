// Driver versions: per driver type, the first opened device's.
#include "crvmon.h"
#include "lib/api/api_guard.h"
#include "lib/api/library_state.h"
#include "lib/registry/version_text.h"

namespace corvanta {

using crvmon::guarded;
using crvmon::kNotAvailable;
using crvmon::registry;

namespace {

const crvmon::DriverVersionEntry* findDriverVersion(crvmonDriverType_t type,
                                                    crvmonStatusCode_t& status) {
    if (!registry().initialised()) {
        status = CRVMON_STATUS_NOT_INITIALIZED;
        return nullptr;
    }
    const auto& versions = registry().driverVersions();
    auto entry = versions.find(static_cast<std::int32_t>(type));
    if (entry == versions.end()) {
        status = CRVMON_STATUS_DRIVER_NOT_FOUND;
        return nullptr;
    }
    status = CRVMON_STATUS_OK;
    return &entry->second;
}

}  // namespace

std::string crvmonGetDriverVersion(crvmonDriverType_t type, crvmonStatusCode_t& status) {
    return guarded(status, std::string(kNotAvailable), [&] {
        const auto* entry = findDriverVersion(type, status);
        return entry == nullptr ? std::string(kNotAvailable) : entry->versionText;
    });
}

unsigned int crvmonGetDriverRevision(crvmonDriverType_t type, crvmonStatusCode_t& status) {
    const auto* entry = findDriverVersion(type, status);
    return entry == nullptr ? 0U : entry->revision;
}

}  // namespace corvanta
