// Telemetry of a Veltara device, computed from the host service's answers: utilisation and
// per-process busy time from its activity log, memory in use, NPU clock, temperature, and the
// processes of its snapshot.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "crvmon.h"
#include "lib/registry/device_record.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

// How far back the activity log is looked at, in the service's time units.
constexpr std::int64_t kActivityWindow = 1'000'000;
// Rows of one snapshot read at most: far above any real process count, so that a service that
// never ends its snapshot cannot hold a caller forever.
constexpr std::size_t kMaxSnapshotRows = 65'536;

// Busy time per process id within the window before `now`, from an activity record;
// `window` receives the length looked at.
void collect_busy_times(std::int64_t now,
                        std::span<const std::uint8_t, wire::kMonitorInfoSize> record,
                        std::map<std::int32_t, std::int64_t>& busy, std::int64_t& window);

// Each query is empty when the service gave no answer.
// Empty when the activity log cannot be read.
std::optional<std::vector<crvmonCoreInfo_t>> veltara_get_core_infos(const DeviceRecord& device);
// Bytes in use; empty when the activity record cannot be read.
std::optional<std::int64_t> veltara_get_memory_usage(const DeviceRecord& device);
// The number the service answers, unscaled; empty when the command failed.
std::optional<std::int32_t> veltara_get_npu_clock(const DeviceRecord& device);
// Empty when the activity log or a row of the snapshot cannot be read: a list cut short, or
// without busy times, would look like a whole one.
std::optional<std::vector<crvmonProcessInfo_t>> veltara_get_process_infos(
    const DeviceRecord& device);
// Degrees Celsius; empty when neither temperature command was answered.
std::optional<std::int32_t> veltara_get_temperature(const DeviceRecord& device);

}  // namespace crvmon::veltara
