#include "lib/orvek/orvek_discovery.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "lib/common/trailing_number.h"
#include "lib/monitor/monitor_table.h"
#include "lib/orvek/orvek_monitor_win.h"

namespace crvmon::orvek {

std::atomic<std::int32_t> nextMonitorKey{0};

std::string locationText(const MonitorInfo& info) {
    switch (info.locationKind >> 14) {
        case 2: {
            char text[32];
            std::snprintf(text, sizeof text, "%04X:%02X:%02X.%X", info.location[0],
                          info.location[1], info.location[2], info.location[3]);
            return text;
        }
        case 1: {
            // The count field can ask for an eighth item; the record holds seven.
            const std::size_t items =
                std::min<std::size_t>((info.locationKind & 7u) + 1, info.location.size());
            std::string text;
            for (std::size_t i = 0; i < items; ++i) {
                if (i > 0) text += '-';
                text += std::to_string(info.location[i]);
            }
            return text;
        }
        default: return {};
    }
}

DeviceRecord describeCard(const MonitorInfo& info) {
    DeviceRecord r;
    r.open = true;
    r.targetType = CRVMON_TARGET_ORVEK_PCIE;
    r.driverVersion = {info.driverVersion[0], info.driverVersion[1], info.driverVersion[2],
                       info.driverVersion[3]};
    r.firmwareVersion.major = (info.subVendorId >> 10) & 0x3F;
    r.firmwareVersion.minor = info.subVendorId & 0x3FF;
    r.firmwareVersion.revision = (info.subDeviceId >> 8) & 0xF;
    if ((info.firmwareBuild & 0x80000000u) != 0) {
        r.firmwareVersion.patch = static_cast<std::int32_t>((info.firmwareBuild >> 16) & 0x7FFFu);
        r.firmwareCrc = static_cast<std::int32_t>(info.firmwareBuild >> 16);
    }
    r.signalType = 0;
    r.vendorId = info.vendorId;
    r.deviceId = info.deviceId;
    r.subVendorId = info.subVendorId;
    r.subDeviceId = info.subDeviceId;
    r.pcieGen = info.pcieGen;
    r.pcieLanes = info.pcieLanes;
    r.pcieRev = info.pcieRev;
    r.pcieClassCode = static_cast<std::int32_t>(info.pcieClassCode);
    r.pcieSlot = locationText(info);
    const int sizeCode = info.subDeviceId & 7;
    r.memoryTotal = (std::int64_t{1} << (sizeCode + 1)) << 30;
    return r;
}

DeviceRecord probeOrvekDevice(const std::string& nodePath) {
    const std::int32_t index = trailingNumber(nodePath);
    auto monitor = std::make_unique<OrvekMonitor_win>(index);
    if (!monitor->isOpen()) return DeviceRecord{};

    MonitorInfo* info = monitor->getInfo();
    if (info == nullptr) return DeviceRecord{};
    DeviceRecord record = describeCard(*info);

    // A failed probe takes no key: keys count the cards actually entered.
    record.monitorKey = nextMonitorKey.fetch_add(1);
    monitorTable().insert(record.monitorKey, std::move(monitor));
    return record;
}

}  // namespace crvmon::orvek
