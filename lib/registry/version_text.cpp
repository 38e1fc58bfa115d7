#include "lib/registry/version_text.h"

#include <sstream>

namespace crvmon {

namespace {

bool present(std::int32_t value) {
    return value != kAbsent32;
}

std::string joined(std::initializer_list<std::int32_t> numbers) {
    std::ostringstream text;
    const char* separator = "";
    for (std::int32_t n : numbers) {
        text << separator << n;
        separator = ".";
    }
    return text.str();
}

}  // namespace

std::string driverVersionText(const VersionInfo& v) {
    if (!present(v.major) || !present(v.minor) || !present(v.patch)) return kNotAvailable;
    return joined({v.major, v.minor, v.patch});
}

std::string firmwareVersionText(const VersionInfo& v, crvmonStatusCode_t& status) {
    if (!present(v.major) || !present(v.minor)) {
        status = CRVMON_STATUS_NOT_SUPPORTED;
        return kNotAvailable;
    }
    status = CRVMON_STATUS_OK;
    // Firmware without a patch number reports a negative one.
    return v.patch >= 0 ? joined({v.major, v.minor, v.patch}) : joined({v.major, v.minor});
}

std::string onDeviceDriverVersionText(const VersionInfo& v, crvmonStatusCode_t& status) {
    if (!present(v.major) || !present(v.minor) || !present(v.patch)) {
        status = CRVMON_STATUS_NOT_SUPPORTED;
        return kNotAvailable;
    }
    status = CRVMON_STATUS_OK;
    return joined({v.major, v.minor, v.patch});
}

}  // namespace crvmon
