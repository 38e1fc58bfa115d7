#include "tools/smi/device_listing.h"

#include <string>

namespace crvmon::smi {

namespace {

constexpr const char* kAbsent = "N/A";

struct Kind {
    crvmonTargetDeviceType_t type;
    const char* name;
};

constexpr Kind kKinds[] = {
    {CRVMON_TARGET_ORVEK, "Orvek"},
    {CRVMON_TARGET_ORVEK_PCIE, "Orvek PCI Express"},
    {CRVMON_TARGET_VELTARA, "Veltara"},
    {CRVMON_TARGET_VELTARA_RESERVED, "Veltara"},
    {CRVMON_TARGET_VELTARA_USB_KIND0, "Veltara USB"},
    {CRVMON_TARGET_VELTARA_USB_KIND1, "Veltara USB"},
};

struct Driver {
    crvmonDriverType_t type;
    const char* name;
};

constexpr Driver kDrivers[] = {
    {CRVMON_DRIVER_ORVEK, "Orvek"},
    {CRVMON_DRIVER_VELTARA_NPU, "Veltara NPU"},
    {CRVMON_DRIVER_VELTARA_USB, "Veltara USB"},
};

// A value the device does not have is shown as N/A, never as a number.
std::string number(int value, crvmonStatusCode_t status, const char* format = "%d") {
    if (status != CRVMON_STATUS_OK) return kAbsent;
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string text(const std::string& value, crvmonStatusCode_t status) {
    return status == CRVMON_STATUS_OK ? value : kAbsent;
}

std::string memorySize(long long bytes, crvmonStatusCode_t status) {
    if (status != CRVMON_STATUS_OK || bytes <= 0) return kAbsent;
    constexpr long long kGiB = 1LL << 30, kMiB = 1LL << 20;
    char out[48];
    if (bytes % kGiB == 0) {
        std::snprintf(out, sizeof out, "%lld GiB", bytes / kGiB);
    } else {
        std::snprintf(out, sizeof out, "%lld MiB", bytes / kMiB);
    }
    return out;
}

void printDevice(std::FILE* out, const Kind& kind, int index) {
    using namespace corvanta;
    const crvmonTargetDeviceType_t t = kind.type;
    crvmonStatusCode_t s = CRVMON_STATUS_OK;

    const std::string node = crvmonGetNodeName(t, index, s);
    std::fprintf(out, "[%d:%d] %s  %s\n", static_cast<int>(t), index, kind.name, node.c_str());

    crvmonStatusCode_t vs, ds, svs, sds;
    const int vendor = crvmonGetVendorId(t, index, vs);
    const int device = crvmonGetDeviceId(t, index, ds);
    const int subVendor = crvmonGetSubVendorId(t, index, svs);
    const int subDevice = crvmonGetSubDeviceId(t, index, sds);
    if (vs == CRVMON_STATUS_OK || ds == CRVMON_STATUS_OK) {
        std::fprintf(out, "    PCI ids       %s:%s  subsystem %s:%s\n",
                     number(vendor, vs, "%04X").c_str(), number(device, ds, "%04X").c_str(),
                     number(subVendor, svs, "%04X").c_str(),
                     number(subDevice, sds, "%04X").c_str());
    }

    const std::string firmware = crvmonGetFirmwareVersion(t, index, s);
    if (s == CRVMON_STATUS_OK) {
        crvmonStatusCode_t rs, cs;
        const int revision = crvmonGetFirmwareRevision(t, index, rs);
        const int crc = crvmonGetFirmwareCRC(t, index, cs);
        std::fprintf(out, "    firmware      %s  revision %s  CRC %s\n", firmware.c_str(),
                     number(revision, rs).c_str(), number(crc, cs, "0x%04X").c_str());
    }
    const std::string onDevice = crvmonGetOnDeviceDriverVersion(t, index, s);
    if (s == CRVMON_STATUS_OK) {
        crvmonStatusCode_t rs, ss;
        const int revision = crvmonGetOnDeviceDriverRevision(t, index, rs);
        const int signal = crvmonGetSignalType(t, index, ss);
        std::fprintf(out, "    device driver %s  revision %s  signal type %s\n", onDevice.c_str(),
                     number(revision, rs).c_str(), number(signal, ss).c_str());
    }

    crvmonStatusCode_t gs, ls, rs, cs, ps;
    const int gen = crvmonGetPcieGen(t, index, gs);
    const int lanes = crvmonGetPcieLanes(t, index, ls);
    const int rev = crvmonGetPcieRev(t, index, rs);
    const int classCode = crvmonGetPcieClassCode(t, index, cs);
    const std::string slot = crvmonGetPcieSlot(t, index, ps);
    if (gs == CRVMON_STATUS_OK || ps == CRVMON_STATUS_OK) {
        std::fprintf(out, "    PCI Express   gen %s x%s  revision %s  class %s  slot %s\n",
                     number(gen, gs).c_str(), number(lanes, ls).c_str(), number(rev, rs).c_str(),
                     number(classCode, cs, "0x%06X").c_str(), text(slot, ps).c_str());
    }

    const long long memory = crvmonGetMemoryTotal(t, index, s);
    std::fprintf(out, "    memory        %s\n", memorySize(memory, s).c_str());
}

}  // namespace

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

void printDeviceList(std::FILE* out) {
    using namespace corvanta;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const int total = crvmonGetDeviceCount(status);
    std::fprintf(out, "Devices: %d\n", total);
    for (const Driver& driver : kDrivers) {
        const std::string version = crvmonGetDriverVersion(driver.type, status);
        if (status != CRVMON_STATUS_OK) continue;
        crvmonStatusCode_t rs;
        const unsigned revision = crvmonGetDriverRevision(driver.type, rs);
        std::fprintf(out, "Driver %-12s %s  revision %s\n", driver.name, version.c_str(),
                     revision == 0xFFFFFFFFu ? kAbsent : std::to_string(revision).c_str());
    }
    std::fprintf(out, "\n");

    int listed = 0;
    for (const Kind& kind : kKinds) {
        const int count = crvmonGetTargetDeviceCount(kind.type, status);
        for (int index = 0; status == CRVMON_STATUS_OK && index < count; ++index) {
            printDevice(out, kind, index);
            ++listed;
        }
    }
    if (listed < total) {
        std::fprintf(out, "(%d device(s) of unknown kind not addressable)\n", total - listed);
    }
}

}  // namespace crvmon::smi
