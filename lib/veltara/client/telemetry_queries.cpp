#include "lib/veltara/client/telemetry_queries.h"

#include <array>

#include "lib/common/core_id.h"
#include "lib/platform/win32.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

namespace {

using MonitorRecord = std::array<std::uint8_t, wire::kMonitorInfoSize>;
constexpr int kRingSize = static_cast<int>(wire::monitor_info::kSlotCount);

// Timestamps come from the service: arithmetic on them wraps instead of overflowing.
std::int64_t minus(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
std::int64_t plus(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

struct Slot {
    std::int64_t start;
    std::int64_t end;
    std::int32_t pid;
};

Slot slotAt(std::span<const std::uint8_t, wire::kMonitorInfoSize> record, int index) {
    const std::uint8_t* p = record.data() + wire::monitor_info::kSlots +
                            static_cast<std::size_t>(index) * wire::monitor_info::kSlotSize;
    return {static_cast<std::int64_t>(load64(p + wire::monitor_info::kSlotStart)),
            static_cast<std::int64_t>(load64(p + wire::monitor_info::kSlotEnd)),
            static_cast<std::int32_t>(load32(p + wire::monitor_info::kSlotPid))};
}

// A ring index within the ring, whatever the service sent.
int ringIndex(std::int64_t index) {
    return static_cast<int>(((index % kRingSize) + kRingSize) % kRingSize);
}

// The activity record of the device, or nothing when the command failed.
bool fetchMonitorRecord(VeltaraClient* client, MonitorRecord& record) {
    record.fill(0);  // sent as the payload: nothing of the caller's memory goes out
    return veltara_ioctl(client, wire::code::kGetMonitorInfo, record.data()) == 0;
}

// Busy time per process and the window, from the device's activity log; false, with nothing
// and a window of 0, when the log cannot be had.
bool busyFromActivityLog(VeltaraClient* client, std::map<std::int32_t, std::int64_t>& busy,
                         std::int64_t& window) {
    MonitorRecord record;
    busy.clear();
    window = 0;
    if (!fetchMonitorRecord(client, record)) return false;
    const auto now = static_cast<std::int64_t>(load64(record.data() + wire::monitor_info::kNow));
    collect_busy_times(now, record, busy, window);
    return true;
}

}  // namespace

void collect_busy_times(std::int64_t now,
                        std::span<const std::uint8_t, wire::kMonitorInfoSize> record,
                        std::map<std::int32_t, std::int64_t>& busy, std::int64_t& window) {
    busy.clear();
    // The head names the newest slot or the one after it: the later start decides.
    const auto head = static_cast<std::int32_t>(load32(record.data() + wire::monitor_info::kHead));
    const int a = ringIndex(head);
    const int b = ringIndex(static_cast<std::int64_t>(a) - 1);
    const int newest = slotAt(record, a).start < slotAt(record, b).start ? b : a;

    const std::int64_t windowStart = minus(now, kActivityWindow);
    std::int64_t oldestStart = 0;
    for (int i = 0; i < kRingSize; ++i) {
        const Slot slot = slotAt(record, ringIndex(newest - i));
        // A slot never written (start 0) ends the log as one from before the window does,
        // also while the service's clock is still within its first window.
        if (slot.start == 0 || minus(now, slot.start) > kActivityWindow) {
            // The slot that began before the window counts with its part inside it.
            if (slot.start != 0) {
                const std::int64_t end = slot.start <= slot.end ? slot.end : now;
                const std::int64_t overlap = minus(end, windowStart);
                if (overlap > 0) busy[slot.pid] = plus(busy[slot.pid], overlap);
            }
            window = kActivityWindow;
            return;
        }
        oldestStart = slot.start;
        // Inside the window, work that has not ended counts up to now.
        const std::int64_t part =
            slot.start < slot.end ? minus(slot.end, slot.start) : minus(now, slot.start);
        busy[slot.pid] = plus(busy[slot.pid], part);
    }
    window = minus(now, oldestStart);
}

std::optional<std::vector<crvmonCoreInfo_t>> veltara_get_core_infos(const DeviceRecord& device) {
    std::map<std::int32_t, std::int64_t> busy;
    std::int64_t window = 0;
    if (!busyFromActivityLog(device.client, busy, window)) return std::nullopt;
    std::int64_t total = 0;
    for (const auto& entry : busy) total = plus(total, entry.second);
    const CoreId id = makeCoreId(0, 1);
    return std::vector<crvmonCoreInfo_t>{crvmonCoreInfo_t{id.cluster, id.core, total, window}};
}

std::optional<std::int64_t> veltara_get_memory_usage(const DeviceRecord& device) {
    MonitorRecord record;
    if (!fetchMonitorRecord(device.client, record)) return std::nullopt;
    return static_cast<std::int64_t>(load32(record.data() + wire::monitor_info::kPagesInUse)) << 12;
}

std::optional<std::int32_t> veltara_get_npu_clock(const DeviceRecord& device) {
    const std::int32_t clock = veltara_ioctl(device.client, wire::code::kGetClockNpu, nullptr);
    // A failed command's negative code is no clock.
    if (clock < 0) return std::nullopt;
    return clock;
}

std::optional<std::int32_t> veltara_get_temperature(const DeviceRecord& device) {
    // Sent as the payload; zeros, so that a service that does not fill it reads as 0.
    std::array<std::uint8_t, wire::temperature_record::kSize> temperature{};
    std::int32_t milliDegrees = 0;
    if (veltara_ioctl(device.client, wire::code::kGetTemperatureWithRecord, temperature.data()) ==
        0) {
        milliDegrees = static_cast<std::int32_t>(
            load32(temperature.data() + wire::temperature_record::kMilliDegrees));
    } else {
        milliDegrees = veltara_ioctl(device.client, wire::code::kGetTemperature, nullptr);
        // Read as a temperature the failure codes would be 0 degrees; the temperatures they
        // hide (-1 to -7 thousandths of a degree) would read as 0 too, so nothing is lost.
        if (valueCommandFailed(milliDegrees)) return std::nullopt;
    }
    return milliDegrees / 1000;
}

std::optional<std::vector<crvmonProcessInfo_t>> veltara_get_process_infos(
    const DeviceRecord& device) {
    std::map<std::int32_t, std::int64_t> busy;
    std::int64_t window = 0;
    if (!busyFromActivityLog(device.client, busy, window)) return std::nullopt;

    std::vector<crvmonProcessInfo_t> processes;
    const int self = _getpid();
    // The capture's status word is the service's to give and is not looked at. Any other
    // failure (the request not written, or written and its status never read) leaves no
    // knowing whether a snapshot was taken: the reads could find none, or one taken before.
    const std::int32_t captured =
        veltara_ioctl(device.client, wire::code::kCaptureSnapshot, nullptr);
    bool ended = false;
    bool failed = captured != 0 && captured != ioctl_failure::kStatusNotSuccess;
    for (std::size_t rows = 0; !failed && rows < kMaxSnapshotRows; ++rows) {
        std::array<std::uint8_t, wire::process_record::kSize> row{};
        if (veltara_ioctl(device.client, wire::code::kReadSnapshot, row.data()) != 0) {
            failed = true;
            break;
        }
        if ((row[wire::process_record::kFlags] & wire::process_record::kEndFlag) != 0) {
            ended = true;
            break;
        }
        const auto pid = static_cast<std::int32_t>(load32(row.data() + wire::process_record::kPid));
        if (pid == self) continue;
        const std::uint32_t count = load32(row.data() + wire::process_record::kCount);
        const std::uint64_t amount = load64(row.data() + wire::process_record::kAmount);
        auto known = processes.begin();
        while (known != processes.end() && known->pid != pid) ++known;
        if (known != processes.end()) {
            known->quantity += count;
            known->amount += amount;
        } else {
            auto found = busy.find(pid);
            processes.push_back(crvmonProcessInfo_t{pid, count, amount, window,
                                                    found == busy.end() ? 0 : found->second});
        }
    }
    veltara_ioctl(device.client, wire::code::kReleaseSnapshot, nullptr);
    // A snapshot cut off by a failed row, or by the guard before its end, is not the list.
    if (failed || !ended) return std::nullopt;
    return processes;
}

}  // namespace crvmon::veltara
