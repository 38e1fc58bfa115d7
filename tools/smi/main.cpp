// crvmon-smi: lists the NPUs the library finds.
#include <cstdio>

#include "crvmon.h"

namespace {

const char* statusWords(crvmonStatusCode_t status) {
    switch (status) {
        case CRVMON_STATUS_OK: return "success";
        case CRVMON_STATUS_NOT_INITIALIZED: return "not initialised: no device found";
        case CRVMON_STATUS_DRIVER_NOT_FOUND: return "no device of that driver type";
        case CRVMON_STATUS_INVALID_ARGUMENT: return "invalid argument or index";
        case CRVMON_STATUS_NOT_SUPPORTED: return "not supported by this device";
        case CRVMON_STATUS_BUFFER_TOO_SMALL: return "buffer too small";
        case CRVMON_STATUS_TARGET_NOT_FOUND: return "no device of that target type";
    }
    return "unknown status";
}

}  // namespace

int main() {
    crvmonStatusCode_t status = corvanta::crvmonInit();
    if (status != CRVMON_STATUS_OK) {
        std::fprintf(stderr, "crvmon-smi: initialisation failed (status %d: %s)\n",
                     static_cast<int>(status), statusWords(status));
        return 1;
    }

    const int total = corvanta::crvmonGetDeviceCount(status);
    std::printf("Devices: %d\n", total);
    const struct {
        crvmonTargetDeviceType_t type;
        const char* name;
    } kinds[] = {
        {CRVMON_TARGET_ORVEK, "Orvek"},
        {CRVMON_TARGET_VELTARA, "Veltara"},
        {CRVMON_TARGET_ORVEK_PCIE, "Orvek PCI Express"},
        {CRVMON_TARGET_VELTARA_RESERVED, "Veltara (type 4)"},
        {CRVMON_TARGET_VELTARA_USB_KIND0, "Veltara USB, kind 0"},
        {CRVMON_TARGET_VELTARA_USB_KIND1, "Veltara USB, kind 1"},
    };
    for (const auto& kind : kinds) {
        const int count = corvanta::crvmonGetTargetDeviceCount(kind.type, status);
        if (status == CRVMON_STATUS_OK && count > 0) {
            std::printf("  target type %d (%s): %d\n", static_cast<int>(kind.type), kind.name,
                        count);
        }
    }
    corvanta::crvmonShutdown();
    return 0;
}
