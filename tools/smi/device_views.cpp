#include "tools/smi/device_views.h"

#include <cstdio>

#include "tools/smi/text_table.h"

namespace crvmon::smi {

namespace {

using tools::DeviceSample;

constexpr const char* kAbsent = "N/A";

template <class T>
std::string shown(const std::optional<T>& value, const char* format) {
    if (!value) return kAbsent;
    char text[64];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

std::string memoryText(const DeviceSample& s) {
    constexpr long long kMiB = 1LL << 20;
    const auto mib = [](const std::optional<long long>& bytes) -> std::optional<long long> {
        if (!bytes) return std::nullopt;
        return *bytes / kMiB;
    };
    if (!s.memoryUsedBytes && !s.memoryTotalBytes) return kAbsent;
    return shown(mib(s.memoryUsedBytes), "%lld") + "/" + shown(mib(s.memoryTotalBytes), "%lld");
}

}  // namespace

unsigned deviceTableGroups() {
    return tools::kReadThermal | tools::kReadPower | tools::kReadClocks | tools::kReadMemory |
           tools::kReadUtilization;
}

unsigned processTableGroups() {
    return tools::kReadProcesses;
}

std::string deviceTable(const std::vector<DeviceSample>& devices, int maxWidth) {
    TextTable table({{"ID"},
                     {"Family"},
                     {"Node", false, true},
                     {"Temp", true},
                     {"Power", true},
                     {"NPU clock", true},
                     {"Fan", true},
                     {"Memory MiB", true},
                     {"Util", true}});
    for (const DeviceSample& s : devices) {
        table.addRow({tools::formatDeviceId(s.id), tools::familyName(s.family),
                      s.node.value_or(kAbsent), shown(s.temperatureC, "%dC"),
                      shown(s.boardPowerW, "%.1fW"), shown(s.npuClockMHz, "%dMHz"),
                      shown(s.fanDutyPercent, "%d%%"), memoryText(s),
                      shown(s.utilizationPercent, "%.1f%%")});
    }
    return table.render(maxWidth);
}

std::string processTable(const std::vector<DeviceSample>& devices, int maxWidth) {
    // The busy share only: the raw busy and window times are in --details, -q and JSON.
    TextTable table({{"Device"},
                     {"PID", true},
                     {"Name"},
                     {"Busy", true},
                     {"Quantity", true},
                     {"Amount", true}});
    for (const DeviceSample& s : devices) {
        if (!s.processes) continue;
        for (const tools::ProcessLoad& p : *s.processes) {
            table.addRow({tools::formatDeviceId(s.id), std::to_string(p.pid),
                          p.name.value_or(kAbsent), shown(p.busyPercent(), "%.1f%%"),
                          std::to_string(p.quantity), std::to_string(p.amount)});
        }
    }
    if (table.empty()) return "No processes reported by the devices.\n";
    return table.render(maxWidth);
}

}  // namespace crvmon::smi
