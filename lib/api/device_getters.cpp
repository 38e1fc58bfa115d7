// The namespaced device getters, written out from the rows of device_getters.h: each looks the
// device up and lets its accessor answer.
#include "lib/api/device_getters.h"

#include "crvmon.h"
#include "lib/api/device_frame.h"
#include "lib/telemetry/metric_accessors.h"
#include "lib/telemetry/record_accessors.h"

namespace corvanta {

#define CRVMON_VALUE_GETTER(name, Result, failure, accessor)                            \
    Result name(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) { \
        return crvmon::withDevice(type, index, status, static_cast<Result>(failure),    \
                                  crvmon::accessors::accessor);                         \
    }
#define CRVMON_TEXT_GETTER(name, accessor)                                                   \
    std::string name(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t& status) { \
        return crvmon::withDevice(type, index, status, std::string(),                        \
                                  crvmon::accessors::accessor);                              \
    }
#define CRVMON_RECORDS_GETTER(name, Record, accessor)                         \
    std::vector<Record> name(crvmonTargetDeviceType_t type, int index,        \
                             crvmonStatusCode_t& status) {                    \
        return crvmon::withDevice(type, index, status, std::vector<Record>(), \
                                  crvmon::accessors::accessor);               \
    }

CRVMON_DEVICE_GETTERS(CRVMON_VALUE_GETTER, CRVMON_TEXT_GETTER, CRVMON_RECORDS_GETTER)

crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index,
                                        crvmonExtraPmicId_t id) {
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const crvmonStatusCode_t result =
        crvmon::withDevice(type, index, status, CRVMON_STATUS_NOT_SUPPORTED,
                           [id](const crvmon::DeviceRecord& d, crvmonStatusCode_t&) {
                               return crvmon::accessors::setExtraPmicId(d, id);
                           });
    // A failed lookup reports its own status.
    return status != CRVMON_STATUS_OK ? status : result;
}

}  // namespace corvanta
