// Device objects of the stand-in: requests with overlapped records and events as the library
// makes them, requests that fail at once, and a client that trusts no reply it cannot check
// (a fake server with crafted replies). Cards, their requests and the handles repeated opens
// leave are tested through the library against the simulated driver.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "lib/platform/posix/device_protocol.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/unix_socket.h"
#include "lib/platform/win32.h"
#include "sim/orvek/device_object_server.h"
#include "tests/support/private_object_root.h"

namespace {

namespace protocol = crvmon::platform::device_protocol;
using crvmon::platform::Descriptor;
using crvmon::sim::DeviceIoReply;
using crvmon::sim::DeviceIoRequest;
using crvmon::sim::DeviceObjectServer;
using Bytes = std::vector<std::uint8_t>;

// ERROR_SUCCESS for a call that succeeded, else its error.
DWORD errorOf(BOOL result) {
    return result ? ERROR_SUCCESS : GetLastError();
}

HANDLE openDevice(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

// A request with `buffer` as its input (the first `in` bytes) and its output: the error.
DWORD control(HANDLE device, DWORD code, Bytes& buffer, DWORD in, DWORD& returned,
              OVERLAPPED* overlapped = nullptr) {
    return errorOf(DeviceIoControl(device, code, buffer.data(), in, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), &returned, overlapped));
}

// Replies with the input reversed, so a reply shows which request it answers.
DeviceIoReply reversed(const DeviceIoRequest& request) {
    return DeviceIoReply{Bytes(request.input.rbegin(), request.input.rend())};
}

using DeviceObjects = crvmon::testing::PrivateObjectRoot;

// Overlapped as the library calls: one buffer as input and output, an event it made signalled.
TEST_F(DeviceObjects, RequestsPassUnchangedAndFailuresFailAtOnce) {
    std::atomic<int> calls{0};
    DeviceObjectServer server("corvanta_pcie1", [&](const DeviceIoRequest& request) {
        ++calls;
        if (request.code == 1) return DeviceIoReply{{1, 2, 3}, ERROR_INVALID_FUNCTION};
        if (request.code == 2) throw std::runtime_error("handler fault");
        return reversed(request);
    });
    HANDLE device = openDevice("\\\\.\\corvanta_pcie1");
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    for (DWORD size : {3u, 0u}) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        Bytes buffer{9, 8, 7, 6};
        DWORD returned = 0, transferred = 99;
        ASSERT_EQ(control(device, 0x00222000, buffer, size, returned, &overlapped), 0u);
        EXPECT_EQ(buffer, (size == 3 ? Bytes{7, 8, 9, 6} : Bytes{9, 8, 7, 6}));
        EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
        EXPECT_EQ(transferred, size);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    }
    // A failure fails at once: the record stays pending, the event unsignalled, the output as
    // it was.
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    Bytes output(4, 0xEE);
    DWORD returned = 77;
    EXPECT_EQ(control(device, 1, output, 0, returned, &overlapped), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(output, Bytes(4, 0xEE));
    EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    DWORD transferred = 0;
    EXPECT_EQ(errorOf(GetOverlappedResult(device, &overlapped, &transferred, FALSE)),
              ERROR_IO_INCOMPLETE);
    // A handler that throws fails its request; the connection goes on serving.
    EXPECT_EQ(control(device, 2, output, 0, returned), ERROR_GEN_FAILURE);
    EXPECT_EQ(control(device, 3, output, 2, returned), ERROR_SUCCESS);
    EXPECT_EQ(returned, 2u);

    // Misused calls never reach the server.
    overlapped.hEvent = device;  // not an event
    Bytes huge(1 << 20);
    EXPECT_EQ(control(event, 3, output, 0, returned), ERROR_INVALID_HANDLE);
    EXPECT_EQ(control(device, 3, output, 0, returned, &overlapped), ERROR_INVALID_HANDLE);
    EXPECT_EQ(control(device, 3, huge, 4, returned), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(errorOf(DeviceIoControl(device, 3, nullptr, 8, nullptr, 0, &returned, nullptr)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(calls.load(), 5);
    // A handle is never given out twice, so a stale one cannot reach a new object.
    for (HANDLE handle : {event, device}) EXPECT_TRUE(CloseHandle(handle));
    HANDLE next = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(next, event);
    EXPECT_EQ(errorOf(SetEvent(event)), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(next));
}

// The reply frame a fake server sends for a request; nothing: close the connection instead.
using ReplyMaker = std::function<std::optional<Bytes>(const protocol::Request&)>;

void setField(Bytes& frame, std::size_t offset, std::uint32_t value) {
    std::memcpy(frame.data() + offset, &value, sizeof value);
}

TEST_F(DeviceObjects, ClientBoundsRepliesAndDropsTheConnectionAfterAMalformedOne) {
    // A well-formed reply to the request, one header field then overwritten.
    auto altered = [](std::size_t offset, std::uint32_t value, Bytes output = {1, 2}) {
        return ReplyMaker([=](const protocol::Request& r) {
            Bytes frame = protocol::encodeReply({r.sequence, 0, output});
            setField(frame, offset, value);
            return std::optional<Bytes>(frame);
        });
    };
    const std::tuple<const char*, ReplyMaker, DWORD> cases[] = {
        {"longer than asked for", altered(0, protocol::kReplyMagic, Bytes(100, 0x5A)),
         ERROR_SUCCESS},
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
    crvmon::platform::objectDirectory("device");
    std::string path;
    ASSERT_EQ(protocol::devicePath("fake", path), ERROR_SUCCESS);
    for (const auto& [what, maker, error] : cases) {
        Descriptor listener = crvmon::platform::listenSeqpacket(path);
        std::thread fake([&] {  // serves one connection until the client hangs up
            Descriptor connection(accept(listener.get(), nullptr, nullptr));
            Bytes frame(protocol::kMaxRequestFrame);
            bool truncated = false;
            for (;;) {
                ssize_t size = crvmon::platform::receiveMessage(connection.get(), frame.data(),
                                                                frame.size(), truncated);
                auto request = size > 0 ? protocol::decodeRequest({frame.data(), std::size_t(size)})
                                        : std::nullopt;
                std::optional<Bytes> answer = request ? maker(*request) : std::nullopt;
                if (!answer) return;
                crvmon::platform::sendMessage(connection.get(), answer->data(), answer->size());
            }
        });
        HANDLE device = openDevice("\\\\.\\fake");
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << what;
        Bytes output(6, 0xEE);
        DWORD returned = 55;
        auto call = [&] {
            return errorOf(
                DeviceIoControl(device, 1, nullptr, 0, output.data(), 4, &returned, nullptr));
        };
        EXPECT_EQ(call(), error) << what;
        // Never beyond the caller's buffer; nothing at all from a reply it cannot trust.
        const bool ok = error == ERROR_SUCCESS;
        EXPECT_EQ(returned, ok ? 4u : 0u) << what;
        EXPECT_EQ(output, (ok ? Bytes{0x5A, 0x5A, 0x5A, 0x5A, 0xEE, 0xEE} : Bytes(6, 0xEE)))
            << what;
        if (!ok) {
            EXPECT_EQ(call(), ERROR_BROKEN_PIPE) << what;
        }
        EXPECT_TRUE(CloseHandle(device));
        fake.join();
    }
}

}  // namespace
