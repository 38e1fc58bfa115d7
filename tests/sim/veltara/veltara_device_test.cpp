// A simulated Veltara device: what it answers to each command and the broker's device list,
// byte for byte against bytes written out by hand; and the activity log in its monitor record,
// as the manual clock moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "sim/model/veltara_device_list.h"
#include "sim/model/veltara_device_model.h"

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = VeltaraReply::Kind;

// The code, then `payload`, or as many zero bytes as the code's size field says.
Bytes request(std::uint32_t code, Bytes payload = {}) {
    Bytes bytes{static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
                static_cast<std::uint8_t>(code >> 16), static_cast<std::uint8_t>(code >> 24)};
    if (payload.empty()) payload.resize((code >> 16) & 0x3FFF);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

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

const Bytes kBeef{0xEF, 0xBE, 0, 0};
const Bytes kHostInfo = sparse(36, {{0, {1, 0, 2, 0, 3, 0, 0, 0}}, {32, {0x02, 0x01}}});

class VeltaraDevice : public ::testing::Test {
  protected:
    VeltaraDevice() {
        config.driverVersion = {2, 5, 3, 1};
        config.flags = 0x5;
        config.hostDriverVersion = {1, 2, 3, 0};
        config.hostRevision = 0x0102;
        config.signalType = -6;
        config.npuClockMHz = 900;
        config.version = {3, 0x11223344};
        config.processes = {{10, 2, 0x0102030405060708}, {-3, 7, 1}};
    }
    // The device made from `config` on first use.
    VeltaraDeviceModel& device() {
        if (!model) {
            origin = clock.nowMicroseconds();
            model = std::make_unique<VeltaraDeviceModel>(config, clock);
        }
        return *model;
    }
    Bytes sent(const Bytes& bytes) {
        VeltaraReply reply = device().answer(bytes);
        EXPECT_EQ(reply.kind, Kind::Send);
        return reply.bytes;
    }
    // The monitor record `since` µs after the device started.
    Bytes infoAt(std::uint64_t since) {
        VeltaraDeviceModel& started = device();
        clock.set(origin + since);
        return started.monitorInfo();
    }

    ManualSimClock clock;
    VeltaraDeviceConfig config;
    std::unique_ptr<VeltaraDeviceModel> model;
    std::uint64_t origin = 0;
};

TEST_F(VeltaraDevice, EveryShapeInTurn) {
    const std::vector<std::pair<Bytes, Bytes>> exchanges{
        // Records are their own length whatever the size field says.
        {request(0x00005213),
         sparse(96, {{0, {2, 0, 5, 0, 3, 0, 1, 0}}, {24, {0x05}}, {32, {0x00, 0x00, 0x04, 0x00}}})},
        {request(0x80244800), kHostInfo},
        {request(0x8008520C, {1, 2, 3, 4, 5, 6, 7, 8}), {1, 2, 3, 4, 5, 6, 7, 8}},  // in-out
        {request(0x00005209), {0xFA, 0xFF, 0xFF, 0xFF}},
        {request(0xC01C520A), {0xC8, 0xAF, 0x00, 0x00}},
        {request(0x00005201), {3, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}},
        {request(0x00005203), kBeef},
        {request(0x40045204), kBeef},
        {request(0x0000520D), kBeef},
        // A clock setting holds; without its 4 bytes it is refused.
        {request(0x4004520B), {0x84, 0x03, 0x00, 0x00}},
        {request(0x4004520F, {0x4C, 0x04, 0, 0}), kBeef},
        {request(0x4004520B), {0x4C, 0x04, 0x00, 0x00}},
        {request(0x0000520F), {22, 0, 0, 0}}};
    for (const auto& [in, out] : exchanges) EXPECT_EQ(sent(in), out) << std::hex << in[0];
    EXPECT_EQ(sent(request(0x0000520E)).size(), 2576u);
}

TEST_F(VeltaraDevice, RejectedCommandsGetNothingAndBadFramingIsMalformed) {
    for (std::uint32_t code : {0x00005200u, 0x00005210u, 0x00005211u, 0x00005212u, 0x00005217u,
                               0x000052FFu, 0x00004809u, 0x00005301u}) {
        EXPECT_EQ(device().answer(request(code)).kind, Kind::None) << std::hex << code;
    }
    for (const Bytes& bad : {Bytes{0x09, 0x52, 0x00}, request(0xC01C520A, {1, 2, 3, 4}),
                             request(0x00005209, {0}), request(0x80215216, {0})}) {
        EXPECT_EQ(device().answer(bad).kind, Kind::Malformed) << bad.size();
    }
}

TEST_F(VeltaraDevice, SnapshotRowsThenTheEndUntilReleased) {
    const Bytes end = sparse(33, {{0, {0x01}}});
    const Bytes read = request(0x80215216);
    EXPECT_EQ(sent(read), end);  // nothing captured yet
    sent(request(0x00005214));
    EXPECT_EQ(sent(read), sparse(33, {{1, {10, 0, 0, 0, 2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}}}));
    EXPECT_EQ(sent(read), sparse(33, {{1, {0xFD, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0, 1}}}));
    EXPECT_EQ(sent(read), end);
    EXPECT_EQ(sent(request(0x80285216)), sparse(40, {{0, {0x01}}}));  // the size field's length
    sent(request(0x00005214));                                        // a new capture starts over
    EXPECT_EQ(sent(read)[1], 10);
    sent(request(0x00005215));
    EXPECT_EQ(sent(read), end);
}

TEST_F(VeltaraDevice, FaultsCutPadReplaceOrWithholdReplies) {
    config.faults.replyLength = {{10, 2}, {11, 6}, {kHostInfoCommand, 40}};
    config.faults.status = {{20, 5}};
    config.faults.silent = {14};
    EXPECT_EQ(sent(request(0x0000520A)), (Bytes{0xC8, 0xAF}));
    EXPECT_EQ(sent(request(0x4004520B)), (Bytes{0x84, 0x03, 0, 0, 0, 0}));
    Bytes padded = kHostInfo;
    padded.resize(40);
    EXPECT_EQ(sent(request(0x80244800)), padded);
    EXPECT_EQ(device().answer(request(0xCA10520E)).kind, Kind::Withhold);
    // A failing status still does what the command does.
    EXPECT_EQ(sent(request(0x00005214)), (Bytes{0x05, 0, 0, 0}));
    EXPECT_EQ(sent(request(0x80215216))[1], 10);
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

TEST_F(VeltaraDevice, ActivityLogLayoutWithARunningItem) {
    config.pagesInUse = 3;
    config.work = {{7, 0, 1000, 400, {}}};
    const Bytes info = infoAt(2300);
    ASSERT_EQ(info.size(), 2576u);
    // Third item, begun at 1,002,000 µs and still running: end 0.
    EXPECT_EQ(Bytes(info.begin() + 40, info.begin() + 60),
              (Bytes{0x10, 0x4A, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(Bytes(info.begin() + 2560, info.end()),
              (Bytes{3, 0, 0, 0, 3, 0, 0, 0, 0x3C, 0x4B, 0x0F, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slotOf(info, 1), (Slot{1'001'000, 1'001'400, 7}));
    EXPECT_EQ(slotOf(info, 3), (Slot{0, 0, 0}));
}

TEST_F(VeltaraDevice, ActivityLogAdvancesWithTheClockAndWrapsAfter128Items) {
    config.work = {{7, 0, 1000, 400, {}}};
    EXPECT_EQ(le(infoAt(0), 2560, 4), 1);
    EXPECT_EQ(le(infoAt(5'000), 2560, 4), 6);
    const Bytes info = infoAt(129'300);  // items 0-129: items 128 and 129 overwrote slots 0, 1
    EXPECT_EQ(le(info, 2560, 4), 2);
    EXPECT_EQ(slotOf(info, 0), (Slot{1'128'000, 1'128'400, 7}));
    EXPECT_EQ(slotOf(info, 1), (Slot{1'129'000, 0, 7}));
    EXPECT_EQ(slotOf(info, 2), (Slot{1'002'000, 1'002'400, 7}));

    config.activityHead = ActivityHead::Newest;
    model.reset();
    EXPECT_EQ(le(infoAt(0), 2560, 4), 0);
    EXPECT_EQ(le(infoAt(1'000), 2560, 4), 1);
}

TEST_F(VeltaraDevice, ActivityLogStreamsInterleaveByStartAndStopOrStartLate) {
    config.work = {{1, 0, 1000, 100, {}},
                   {2, 0, 2000, 0, {}},          // ends as it begins
                   {3, 500, 1000, 100, 1'600},   // two items, then no more
                   {4, 50'000, 1000, 100, {}}};  // not begun yet
    const Bytes info = infoAt(10'000);
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
