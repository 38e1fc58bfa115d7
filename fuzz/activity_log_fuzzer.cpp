// A Veltara device's activity log, the 2576-byte record of its recent work, from any bytes and
// at any time: busy time per process and the window they were measured in.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>

#include "fuzz/support/fuzz_check.h"
#include "lib/veltara/client/telemetry_queries.h"
#include "lib/veltara/client/veltara_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t now = 0;
    if (size >= sizeof now) {
        std::memcpy(&now, data, sizeof now);
        data += sizeof now;
        size -= sizeof now;
    }
    std::array<std::uint8_t, 2576> record{};
    std::copy_n(data, std::min(size, record.size()), record.begin());

    std::map<std::int32_t, std::int64_t> busy;
    std::int64_t window = -1;
    crvmon::veltara::collect_busy_times(now, record, busy, window);
    FUZZ_REQUIRE(window <= crvmon::veltara::kActivityWindow, "window %lld",
                 static_cast<long long>(window));
    FUZZ_REQUIRE(busy.size() <= crvmon::veltara::wire::monitor_info::kSlotCount,
                 "%zu processes from a ring of %zu slots", busy.size(),
                 crvmon::veltara::wire::monitor_info::kSlotCount);
    return 0;
}
