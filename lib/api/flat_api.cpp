// The flat functions: each calls its namespaced twin once, after the null-pointer check, and
// copies the result out under the buffer-size and two-call rules. The device getters' twins
// are written out from the rows of device_getters.h.
#include <cstring>

#include "crvmon.h"
#include "lib/api/device_getters.h"

namespace flat {

// A value slot: null is rejected before anything runs; otherwise the slot takes whatever the
// getter returned, its error value included.
template <class Slot, class Getter>
crvmonStatusCode_t value(Slot* slot, Getter getter) {
    if (slot == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    *slot = static_cast<Slot>(getter(status));
    return status;
}

// A character buffer: the text and its terminator when they fit, else
// CRVMON_STATUS_BUFFER_TOO_SMALL and nothing
// written.
template <class Getter>
crvmonStatusCode_t text(char* buffer, unsigned int size, Getter getter) {
    if (buffer == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const std::string result = getter(status);
    if (status != CRVMON_STATUS_OK) return status;
    if (static_cast<unsigned long long>(size) <
        static_cast<unsigned long long>(result.size()) + 1) {
        return CRVMON_STATUS_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, result.c_str(), result.size() + 1);
    return CRVMON_STATUS_OK;
}

// A record array: *count 0 asks for the number; otherwise the records when they fit.
template <class Record, class Getter>
crvmonStatusCode_t records(Record* infos, unsigned int* count, Getter getter) {
    if (count == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const std::vector<Record> result = getter(status);
    if (status != CRVMON_STATUS_OK) return status;
    if (*count == 0) {
        *count = static_cast<unsigned int>(result.size());
        return CRVMON_STATUS_OK;
    }
    if (infos == nullptr) return CRVMON_STATUS_INVALID_ARGUMENT;
    if (static_cast<unsigned long long>(*count) < result.size())
        return CRVMON_STATUS_BUFFER_TOO_SMALL;
    if (!result.empty()) std::memcpy(infos, result.data(), result.size() * sizeof(Record));
    *count = static_cast<unsigned int>(result.size());
    return CRVMON_STATUS_OK;
}

}  // namespace flat

extern "C" {

crvmonStatusCode_t crvmonInit(void) {
    return corvanta::crvmonInit();
}

crvmonStatusCode_t crvmonShutdown(void) {
    return corvanta::crvmonShutdown();
}

crvmonStatusCode_t crvmonSetExtraPmicID(crvmonTargetDeviceType_t type, int index,
                                        crvmonExtraPmicId_t id) {
    return corvanta::crvmonSetExtraPmicID(type, index, id);
}

crvmonStatusCode_t crvmonGetDeviceCount(int* count) {
    return flat::value(count,
                       [](crvmonStatusCode_t& s) { return corvanta::crvmonGetDeviceCount(s); });
}

crvmonStatusCode_t crvmonGetTargetDeviceCount(crvmonTargetDeviceType_t type, int* count) {
    return flat::value(count, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetTargetDeviceCount(type, s);
    });
}

crvmonStatusCode_t crvmonGetDriverRevision(crvmonDriverType_t type, unsigned int* revision) {
    return flat::value(revision, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetDriverRevision(type, s);
    });
}

crvmonStatusCode_t crvmonGetDriverVersion(crvmonDriverType_t type, char* buffer,
                                          unsigned int size) {
    return flat::text(buffer, size, [type](crvmonStatusCode_t& s) {
        return corvanta::crvmonGetDriverVersion(type, s);
    });
}

// The slot and record types are types: they cannot be put in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define CRVMON_FLAT_VALUE(name, Result, failure, accessor)                                         \
    crvmonStatusCode_t name(crvmonTargetDeviceType_t type, int index, Result* value) {             \
        return flat::value(value,                                                                  \
                           [=](crvmonStatusCode_t& s) { return corvanta::name(type, index, s); }); \
    }
#define CRVMON_FLAT_TEXT(name, accessor)                                                          \
    crvmonStatusCode_t name(crvmonTargetDeviceType_t type, int index, char* buffer,               \
                            unsigned int size) {                                                  \
        return flat::text(buffer, size,                                                           \
                          [=](crvmonStatusCode_t& s) { return corvanta::name(type, index, s); }); \
    }
#define CRVMON_FLAT_RECORDS(name, Record, accessor)                                               \
    crvmonStatusCode_t name(crvmonTargetDeviceType_t type, int index, Record* infos,              \
                            unsigned int* count) {                                                \
        return flat::records(                                                                     \
            infos, count, [=](crvmonStatusCode_t& s) { return corvanta::name(type, index, s); }); \
    }
// NOLINTEND(bugprone-macro-parentheses)

CRVMON_DEVICE_GETTERS(CRVMON_FLAT_VALUE, CRVMON_FLAT_TEXT, CRVMON_FLAT_RECORDS)

const char* crvmonStatusString(crvmonStatusCode_t status) {
    switch (status) {
        case CRVMON_STATUS_OK: return "success";
        case CRVMON_STATUS_NOT_INITIALIZED: return "library not initialised";
        case CRVMON_STATUS_DRIVER_NOT_FOUND: return "no device of that driver type";
        case CRVMON_STATUS_INVALID_ARGUMENT: return "invalid argument or device index";
        case CRVMON_STATUS_NOT_SUPPORTED: return "not supported by this device, or value absent";
        case CRVMON_STATUS_BUFFER_TOO_SMALL: return "buffer or array too small";
        case CRVMON_STATUS_TARGET_NOT_FOUND: return "no device of that target type";
    }
    return "unknown status";
}

}  // extern "C"
