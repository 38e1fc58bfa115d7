// Peers that do not follow the device object protocol: a fake server with crafted replies for
// the client, and raw clients with crafted requests for the server.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "platform/posix/device_object_server.h"
#include "platform/posix/device_protocol.h"
#include "platform/posix/object_root.h"
#include "platform/posix/unix_socket.h"
#include "platform/win32.h"
#include "private_object_root.h"

namespace {

namespace protocol = crvmon::platform::device_protocol;
using crvmon::platform::Descriptor;
using Bytes = std::vector<std::uint8_t>;

// The reply frame a fake server sends for a request; nothing: close the connection instead.
using ReplyMaker = std::function<std::optional<Bytes>(const protocol::Request&)>;

Bytes reply(std::uint32_t sequence, std::uint32_t error, const Bytes& output) {
    return protocol::encodeReply({sequence, error, output});
}

void setField(Bytes& frame, std::size_t offset, std::uint32_t value) {
    std::memcpy(frame.data() + offset, &value, sizeof value);
}

// Serves one connection at "\\.\fake" with the reply maker until the client hangs up.
class FakeDevice {
  public:
    explicit FakeDevice(ReplyMaker maker) {
        std::string path;
        crvmon::platform::objectDirectory("device");
        EXPECT_EQ(protocol::devicePath("fake", path), ERROR_SUCCESS);
        listener_ = crvmon::platform::listenSeqpacket(path);
        thread_ = std::thread([this, maker] {
            Descriptor connection(accept(listener_.get(), nullptr, nullptr));
            Bytes frame(protocol::kMaxRequestFrame);
            for (;;) {
                bool truncated = false;
                ssize_t size = crvmon::platform::receiveMessage(connection.get(), frame.data(),
                                                                frame.size(), truncated);
                if (size <= 0) return;
                auto request = protocol::decodeRequest({frame.data(), std::size_t(size)});
                if (!request) return;
                std::optional<Bytes> answer = maker(*request);
                if (!answer) return;
                crvmon::platform::sendMessage(connection.get(), answer->data(), answer->size());
            }
        });
    }
    ~FakeDevice() { thread_.join(); }

  private:
    Descriptor listener_;
    std::thread thread_;
};

class DevicePeers : public crvmon::testing::PrivateObjectRoot {};

TEST_F(DevicePeers, ClientTakesNoMoreThanItsBufferFromAnOverlongReply) {
    FakeDevice fake([](const protocol::Request& request) {
        return reply(request.sequence, 0, Bytes(100, 0x5A));
    });
    HANDLE device = CreateFileA("\\\\.\\fake", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    Bytes output(12, 0xEE);
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(device, 1, nullptr, 0, output.data(), 8, &returned, nullptr));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(output,
              (Bytes{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DevicePeers, ClientRejectsMalformedRepliesAndDropsTheConnection) {
    struct Case {
        const char* what;
        ReplyMaker maker;
        DWORD error;
    };
    // A well-formed reply to the request, with one header field then overwritten.
    auto altered = [](std::size_t offset, std::uint32_t value, Bytes output = {1, 2}) {
        return ReplyMaker([=](const protocol::Request& r) {
            Bytes frame = reply(r.sequence, 0, output);
            setField(frame, offset, value);
            return std::optional<Bytes>(frame);
        });
    };
    const Case cases[] = {
        {"short frame", [](auto&) { return Bytes(8, 0); }, ERROR_INVALID_DATA},
        {"wrong magic", altered(0, 0x12345678), ERROR_INVALID_DATA},
        {"another request's reply", altered(4, 0xFFFF), ERROR_INVALID_DATA},
        {"pending is no answer", altered(8, ERROR_IO_PENDING), ERROR_INVALID_DATA},
        {"size beyond frame", altered(12, 3), ERROR_INVALID_DATA},
        {"size beyond limit", altered(12, 0xFFFFFFF0, {}), ERROR_INVALID_DATA},
        {"frame beyond limit", altered(0, protocol::kReplyMagic, Bytes(protocol::kMaxPayload + 1)),
         ERROR_INVALID_DATA},
        {"hang-up", [](auto&) { return std::optional<Bytes>(); }, ERROR_BROKEN_PIPE},
    };
    for (const Case& c : cases) {
        FakeDevice fake(c.maker);
        HANDLE device = CreateFileA("\\\\.\\fake", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << c.what;
        Bytes output(4, 0xEE);
        DWORD returned = 55;
        EXPECT_FALSE(DeviceIoControl(device, 1, nullptr, 0, output.data(), 4, &returned, nullptr))
            << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
        EXPECT_EQ(returned, 0u) << c.what;
        EXPECT_EQ(output, Bytes(4, 0xEE)) << c.what;
        EXPECT_FALSE(DeviceIoControl(device, 1, nullptr, 0, output.data(), 4, &returned, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE) << c.what;
        EXPECT_TRUE(CloseHandle(device));
    }
}

// True when the server closed the connection without answering.
bool serverHangsUp(int fd) {
    Bytes frame(protocol::kMaxReplyFrame);
    bool truncated = false;
    return crvmon::platform::receiveMessage(fd, frame.data(), frame.size(), truncated) == 0;
}

TEST_F(DevicePeers, ServerDropsMalformedRequestsAndKeepsServing) {
    std::atomic<int> calls{0};
    crvmon::platform::DeviceObjectServer server("corvanta_pcie0", [&](const auto&) {
        ++calls;
        return crvmon::platform::DeviceIoReply{{1, 2, 3}};
    });
    auto valid = [](std::uint32_t inputSize) {
        Bytes input(inputSize, 7);
        return protocol::encodeRequest({1, 0x22, 4, input});
    };
    std::vector<Bytes> malformed = {Bytes(12, 0), valid(0), valid(4), valid(0),
                                    valid(protocol::kMaxPayload + 1)};
    setField(malformed[1], 0, 0x12345678);   // wrong magic
    setField(malformed[2], 12, 5);           // input size beyond the frame
    setField(malformed[3], 16, 0xFFFFFFFF);  // output capacity beyond the limit
    for (const Bytes& frame : malformed) {
        Descriptor client = crvmon::platform::connectSeqpacket(server.path());
        ASSERT_TRUE(client.valid());
        ASSERT_EQ(crvmon::platform::sendMessage(client.get(), frame.data(), frame.size()), 0);
        EXPECT_TRUE(serverHangsUp(client.get()));
    }
    EXPECT_EQ(calls.load(), 0);

    Descriptor client = crvmon::platform::connectSeqpacket(server.path());
    Bytes request = valid(2);
    ASSERT_EQ(crvmon::platform::sendMessage(client.get(), request.data(), request.size()), 0);
    Bytes frame(protocol::kMaxReplyFrame);
    bool truncated = false;
    ssize_t size =
        crvmon::platform::receiveMessage(client.get(), frame.data(), frame.size(), truncated);
    ASSERT_GT(size, 0);
    auto answer = protocol::decodeReply({frame.data(), std::size_t(size)});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->sequence, 1u);
    EXPECT_EQ(Bytes(answer->output.begin(), answer->output.end()), (Bytes{1, 2, 3}));
    EXPECT_EQ(calls.load(), 1);
}

}  // namespace
