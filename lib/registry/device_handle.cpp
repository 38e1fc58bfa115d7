#include "lib/registry/device_handle.h"

#include <utility>

#include "lib/common/target_family.h"
#include "lib/registry/backend_probes.h"

namespace crvmon {

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Leaves a moved-from record holding nothing to release.
DeviceRecord takeOver(DeviceRecord& from) {
    DeviceRecord taken = std::move(from);
    from = DeviceRecord{};
    return taken;
}

}  // namespace

DeviceHandle::DeviceHandle(const std::string& nodePath) {
    const BackendProbes& probes = backendProbes();
    if (contains(nodePath, "orvek")) {
        record_ = probes.probeOrvek(nodePath);
    } else if (contains(nodePath, "veltara")) {
        record_ = probes.probeVeltara(nodePath);
    }
    record_.nodePath = nodePath;

    // The driver type follows the family of the target type; within the Veltara family the path
    // tells the USB driver from the NPU driver.
    if (isOrvekTarget(record_.targetType)) {
        record_.driverType = CRVMON_DRIVER_ORVEK;
    } else if (isVeltaraTarget(record_.targetType)) {
        record_.driverType = contains(nodePath, "veltara-usb") ? CRVMON_DRIVER_VELTARA_USB
                                                               : CRVMON_DRIVER_VELTARA_NPU;
    }
}

DeviceHandle::~DeviceHandle() {
    teardown();
}

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept : record_(takeOver(other.record_)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        teardown();
        record_ = takeOver(other.record_);
    }
    return *this;
}

void DeviceHandle::teardown() noexcept {
    if (!record_.open) return;
    const BackendProbes& probes = backendProbes();
    if (record_.driverType == CRVMON_DRIVER_ORVEK) {
        probes.removeMonitor(record_.monitorKey);
    }
    // A Veltara device of unknown kind keeps driver type 0 but still holds an open client: close
    // whatever client the handle holds, or its pipe instances and view would leak.
    if (record_.client != nullptr) {
        probes.closeClient(record_.client);
        record_.client = nullptr;
    }
    record_.open = false;
}

}  // namespace crvmon
