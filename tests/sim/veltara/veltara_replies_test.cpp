// What a simulated Veltara device answers to each command, and the broker's device list, byte
// for byte against bytes written out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "model/veltara_device_list.h"
#include "model/veltara_device_model.h"

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

const Bytes kBeef{0xEF, 0xBE, 0, 0};
const Bytes kHostInfo = sparse(36, {{0, {1, 0, 2, 0, 3, 0, 0, 0}}, {32, {0x02, 0x01}}});

class VeltaraReplies : public ::testing::Test {
  protected:
    VeltaraReplies() {
        spec.driverVersion = {2, 5, 3, 1};
        spec.flags = 0x5;
        spec.hostDriverVersion = {1, 2, 3, 0};
        spec.hostRevision = 0x0102;
        spec.signalType = -6;
        spec.npuClockMHz = 900;
        spec.version = {3, 0x11223344};
        spec.processes = {{10, 2, 0x0102030405060708}, {-3, 7, 1}};
    }
    Bytes sent(const Bytes& bytes) {
        if (!model) model = std::make_unique<VeltaraDeviceModel>(spec, clock);
        VeltaraReply reply = model->answer(bytes);
        EXPECT_EQ(reply.kind, Kind::Send);
        return reply.bytes;
    }

    ManualSimClock clock;
    VeltaraDeviceSpec spec;
    std::unique_ptr<VeltaraDeviceModel> model;
};

TEST_F(VeltaraReplies, EveryShapeInTurn) {
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

TEST_F(VeltaraReplies, RejectedCommandsGetNothingAndBadFramingIsMalformed) {
    VeltaraDeviceModel device(spec, clock);
    for (std::uint32_t code : {0x00005200u, 0x00005210u, 0x00005211u, 0x00005212u, 0x00005217u,
                               0x000052FFu, 0x00004809u, 0x00005301u}) {
        EXPECT_EQ(device.answer(request(code)).kind, Kind::None) << std::hex << code;
    }
    for (const Bytes& bad : {Bytes{0x09, 0x52, 0x00}, request(0xC01C520A, {1, 2, 3, 4}),
                             request(0x00005209, {0}), request(0x80215216, {0})}) {
        EXPECT_EQ(device.answer(bad).kind, Kind::Malformed) << bad.size();
    }
}

TEST_F(VeltaraReplies, SnapshotRowsThenTheEndUntilReleased) {
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

TEST_F(VeltaraReplies, FaultsCutPadReplaceOrWithholdReplies) {
    spec.faults.replyLength = {{10, 2}, {11, 6}, {kHostInfoCommand, 40}};
    spec.faults.status = {{20, 5}};
    spec.faults.silent = {14};
    EXPECT_EQ(sent(request(0x0000520A)), (Bytes{0xC8, 0xAF}));
    EXPECT_EQ(sent(request(0x4004520B)), (Bytes{0x84, 0x03, 0, 0, 0, 0}));
    Bytes padded = kHostInfo;
    padded.resize(40);
    EXPECT_EQ(sent(request(0x80244800)), padded);
    EXPECT_EQ(model->answer(request(0xCA10520E)).kind, Kind::Withhold);
    // A failing status still does what the command does.
    EXPECT_EQ(sent(request(0x00005214)), (Bytes{0x05, 0, 0, 0}));
    EXPECT_EQ(sent(request(0x80215216))[1], 10);
}

TEST(VeltaraDeviceList, EntriesCountAndFaults) {
    std::vector<VeltaraDeviceSpec> devices(2);
    devices[0].devNo = 3;
    devices[0].name = "vt0";
    devices[1].devNo = -1;
    devices[1].name = std::string(64, 'n');  // fills the field, no NUL
    VeltaraServiceSpec service;
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

}  // namespace
}  // namespace crvmon::sim::testing
