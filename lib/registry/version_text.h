// The texts that versions are reported as: signed decimals joined by ".", or "N/A".
#pragma once

#include <string>

#include "crvmon.h"
#include "lib/registry/version_info.h"

namespace crvmon {

inline constexpr const char* kNotAvailable = "N/A";

// major.minor.patch of a driver version (the revision is left out), or "N/A" when one is absent.
std::string driverVersionText(const VersionInfo& version);

// major.minor, then .patch when the patch is 0 or more; "N/A" with CRVMON_STATUS_NOT_SUPPORTED
// without major/minor.
std::string firmwareVersionText(const VersionInfo& version, crvmonStatusCode_t& status);

// major.minor.patch of the driver running on the device; "N/A" with CRVMON_STATUS_NOT_SUPPORTED
// when one is absent.
std::string onDeviceDriverVersionText(const VersionInfo& version, crvmonStatusCode_t& status);

}  // namespace crvmon
