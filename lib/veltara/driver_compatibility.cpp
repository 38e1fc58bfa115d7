#include "lib/veltara/driver_compatibility.h"

#include <array>
#include <cstdio>

#include "lib/common/diagnostic_print.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

namespace {

using HostInfo = std::array<std::uint8_t, wire::kHostInfoReplyMax>;

bool askHost(VeltaraClient* client, HostInfo& info) {
    info.fill(0);
    return veltara_ioctl(client, wire::code::kHostInfo, info.data()) == 0;
}

std::uint16_t versionPart(const HostInfo& info, int part) {
    return load16(info.data() + wire::host_info::kVersion + 2 * part);
}

}  // namespace

bool checkDriverRevision(VeltaraClient* client, std::uint16_t onDeviceRevision) {
    HostInfo info;
    if (!askHost(client, info)) return false;
    const std::uint16_t supported = load16(info.data() + wire::host_info::kRevision);
    if (onDeviceRevision == supported) return true;

    const char* outdated = onDeviceRevision < supported ? "On-device driver" : "Host USB driver";
    diagnosticPrint(stderr,
                    "The On-device driver revision (%u) does not match the revision supported by "
                    "the host USB driver (%u).\n",
                    static_cast<unsigned>(onDeviceRevision), static_cast<unsigned>(supported));
    diagnosticPrint(stderr, "The %s is outdated. Please update the %s to match revision.\n",
                    outdated, outdated);
    return false;
}

bool adoptHostDriverVersion(VeltaraClient* client, DeviceRecord& record) {
    HostInfo info;
    if (!askHost(client, info)) return false;
    if (versionPart(info, 3) != 0) return false;
    if (!askHost(client, info)) return false;
    record.onDeviceDriverVersion = record.driverVersion;
    record.driverVersion = {versionPart(info, 0), versionPart(info, 1), versionPart(info, 2),
                            versionPart(info, 3)};
    return true;
}

}  // namespace crvmon::veltara
