// A simulated Veltara device's activity log as the manual clock moves, and the broker's device
// list byte for byte. What the device answers to the library's commands, and the faults of its
// replies, are tested through the library (tests/veltara/veltara_simulated_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/model/veltara_device_list.h"
#include "sim/model/veltara_device_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// `size` zero bytes with the given runs written in at their offsets.
Bytes sparse(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> runs) {
    Bytes bytes(size, 0);
    for (const auto& [at, run] : runs) std::copy(run.begin(), run.end(), bytes.begin() + at);
    return bytes;
}

std::int64_t le(const Bytes& b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return width == 4 ? static_cast<std::int32_t>(v) : static_cast<std::int64_t>(v);
}

struct Slot {
    std::int64_t start, end, pid;
    bool operator==(const Slot&) const = default;
};

Slot slotOf(const Bytes& info, std::size_t i) {
    return {le(info, 20 * i, 8), le(info, 20 * i + 8, 8), le(info, 20 * i + 16, 4)};
}

TEST(VeltaraDeviceList, EntriesCountAndFaults) {
    std::vector<VeltaraDeviceConfig> devices(2);
    devices[0].devNo = 3;
    devices[0].name = "vt0";
    devices[1].devNo = -1;
    devices[1].name = std::string(64, 'n');  // fills the field, no NUL
    VeltaraServiceConfig service;
    Bytes expected =
        sparse(140, {{0, {2}}, {4, {3, 0, 0, 0, 'v', 't', '0'}}, {72, {0xFF, 0xFF, 0xFF, 0xFF}}});
    std::fill(expected.begin() + 76, expected.end(), 'n');
    EXPECT_EQ(veltaraDeviceList(devices, service), expected);

    service.listExtraEntries = 70;
    const Bytes many = veltaraDeviceList(devices, service);
    ASSERT_EQ(many.size(), 4u + 72 * 68);
    EXPECT_EQ(Bytes(many.begin(), many.begin() + 4), (Bytes{72, 0, 0, 0}));
    EXPECT_EQ(Bytes(many.begin() + 140, many.begin() + 151),
              (Bytes{0x10, 0x27, 0, 0, 'e', 'x', 't', 'r', 'a', '0', 0}));
    service = {};
    service.listCount = 5;
    service.listReplyLength = 3;
    EXPECT_EQ(veltaraDeviceList(devices, service), (Bytes{5, 0, 0}));
}

TEST(VeltaraActivityLog, StreamsInterleaveByStartAndStopOrStartLate) {
    VeltaraDeviceConfig config;
    config.work = {{1, 0, 1000, 100, {}},
                   {2, 0, 2000, 0, {}},          // ends as it begins
                   {3, 500, 1000, 100, 1'600},   // two items, then no more
                   {4, 50'000, 1000, 100, {}}};  // not begun yet
    ManualSimClock clock;
    const std::uint64_t origin = clock.nowMicroseconds();
    VeltaraDeviceModel device(config, clock);
    clock.set(origin + 10'000);
    const Bytes info = device.monitorInfo();
    // At 0 stream 1 before stream 2; then 500 (3), 1000 (1), 1500 (3), 2000 (1, 2), ...
    const std::vector<std::int64_t> pids = {1, 2, 3, 1, 3, 1, 2, 1, 1, 2};
    for (std::size_t i = 0; i < pids.size(); ++i) EXPECT_EQ(slotOf(info, i).pid, pids[i]) << i;
    EXPECT_EQ(slotOf(info, 1), (Slot{1'000'000, 1'000'000, 2}));
    // 11 + 6 + 2 items: nothing of stream 3 after its stop, nothing of stream 4 yet.
    EXPECT_EQ(le(info, 2560, 4), 19);
    EXPECT_EQ(slotOf(info, 19), (Slot{0, 0, 0}));
}

}  // namespace
}  // namespace crvmon::sim::testing
