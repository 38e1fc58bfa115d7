#include "lib/veltara/veltara_probe.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "lib/common/diagnostic_print.h"
#include "lib/common/trailing_number.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/pipe_transport.h"
#include "lib/veltara/client/veltara_client.h"
#include "lib/veltara/client/veltara_wire.h"
#include "lib/veltara/driver_compatibility.h"

namespace crvmon::veltara {

namespace {

using DriverInfo = std::array<std::uint8_t, wire::kDriverInfoSize>;

bool askDriverInfo(VeltaraClient* client, DriverInfo& info) {
    info.fill(0);  // sent as the payload
    return veltara_ioctl(client, wire::code::kDriverInfo, info.data()) == 0;
}

std::uint16_t versionPart(const DriverInfo& info, int part) {
    return load16(info.data() + wire::driver_info::kVersion + 2 * part);
}

DeviceRecord closeAndFail(VeltaraClient* client) {
    veltara_close(client);
    return DeviceRecord{};
}

}  // namespace

crvmonTargetDeviceType_t targetTypeFromFlags(std::uint32_t flags) {
    if ((flags & 1u) == 0) return CRVMON_TARGET_VELTARA_USB_KIND0;
    switch ((flags >> 1) & 0xFu) {
        case 0: return CRVMON_TARGET_VELTARA_USB_KIND0;
        case 1: return CRVMON_TARGET_VELTARA_USB_KIND1;
        default: return CRVMON_TARGET_NONE;
    }
}

DeviceRecord buildVeltaraRecord(VeltaraClient* client,
                                std::span<const std::uint8_t, wire::kDriverInfoSize> earlierInfo) {
    DeviceRecord record;
    DriverInfo info;
    if (!askDriverInfo(client, info)) {
        std::copy(earlierInfo.begin(), earlierInfo.end(), info.begin());
    }
    record.driverVersion = {versionPart(info, 0), versionPart(info, 1), versionPart(info, 2),
                            versionPart(info, 3)};
    record.memoryTotal =
        static_cast<std::int64_t>(load32(info.data() + wire::driver_info::kPages)) *
        static_cast<std::int64_t>(wire::kPageSize);
    record.targetType = targetTypeFromFlags(load32(info.data() + wire::driver_info::kFlags));
    // The command's failure codes share the value's channel: a signal type that was not read
    // is none, not the code.
    const std::int32_t signalType = veltara_ioctl(client, wire::code::kGetSignalType, nullptr);
    record.signalType = valueCommandFailed(signalType) ? kAbsent32 : signalType;
    record.open = true;
    return record;
}

DeviceRecord probeVeltaraDevice(const std::string& nodePath) {
    if (nodePath.find("veltara-usb") == std::string::npos) return DeviceRecord{};
    const std::int32_t position = trailingNumber(nodePath);

    std::vector<veltara_device_entry> devices(wire::device_list::kMaxEntries);
    const std::int32_t listed =
        veltara_list_devices(devices.data(), static_cast<std::int32_t>(devices.size()));
    if (position < 0 || position >= listed) return DeviceRecord{};
    // An entry without a name has no pipe: opening its number would find another entry's
    // device, counted twice.
    const veltara_device_entry& entry = devices[static_cast<std::size_t>(position)];
    if (entry.name[0] == '\0') return DeviceRecord{};

    VeltaraClient* client = veltara_open(entry.dev_no);
    if (client == nullptr) return DeviceRecord{};

    DeviceRecord record;
    DriverInfo info;
    if (askDriverInfo(client, info)) {
        const std::uint16_t onDeviceRevision = versionPart(info, 3);
        if (!checkDriverRevision(client, onDeviceRevision)) return closeAndFail(client);
        if (onDeviceRevision == 1) {
            record = buildVeltaraRecord(client, info);
        } else {
            diagnosticPrint(stderr,
                            "The detected veltara-driver version is not supported. Please update "
                            "the corvanta-cli.\n");
        }
    }
    if (!adoptHostDriverVersion(client, record)) return closeAndFail(client);
    if (!record.open) return closeAndFail(client);
    record.client = client;
    return record;
}

}  // namespace crvmon::veltara
