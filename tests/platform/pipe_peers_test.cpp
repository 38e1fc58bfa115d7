// Peers that do not follow the pipe protocol: a fake server with crafted answers and frames for
// the client, and raw clients with crafted hellos for the server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pipe_test_support.h"
#include "platform/posix/object_root.h"
#include "platform/posix/pipe_protocol.h"
#include "platform/posix/unix_socket.h"
#include "platform/win32.h"
#include "private_object_root.h"

namespace {

namespace protocol = crvmon::platform::pipe_protocol;
using crvmon::platform::Descriptor;
using namespace crvmon::testing;
using Bytes = std::vector<std::uint8_t>;

constexpr const wchar_t* kName = L"\\\\.\\pipe\\fake";

std::string socketPath() {
    crvmon::platform::objectDirectory("pipe");
    std::string path;
    EXPECT_EQ(protocol::pipePath(u"fake", path), ERROR_SUCCESS);
    return path;
}

Bytes answerFrame(std::uint32_t error, std::uint32_t pipeType = PIPE_TYPE_MESSAGE) {
    auto frame = protocol::encodeAnswer({error, pipeType, 50});
    return Bytes(frame.begin(), frame.end());
}

// The next frame from the peer: its size (0 at hang-up), the frame in buffer.
ssize_t receive(int fd, Bytes& buffer) {
    buffer.resize(protocol::kMaxHelloFrame);
    bool truncated = false;
    return crvmon::platform::receiveMessage(fd, buffer.data(), buffer.size(), truncated);
}

class PipePeers : public PrivateObjectRoot {};

TEST_F(PipePeers, ClientRejectsMalformedAnswersAndFrames) {
    const std::tuple<const char*, std::vector<Bytes>, DWORD> cases[] = {
        {"short answer", {Bytes(8, 0)}, ERROR_INVALID_DATA},
        {"unknown pipe type", {answerFrame(0, 7)}, ERROR_INVALID_DATA},
        {"hang-up before answering", {}, ERROR_FILE_NOT_FOUND},
        {"refusal passed on", {answerFrame(ERROR_ACCESS_DENIED)}, ERROR_ACCESS_DENIED},
        // Opened; then the read fails.
        {"unknown tag", {answerFrame(0), Bytes{'Z', 1}}, ERROR_INVALID_DATA},
        {"fragment beyond the limit",
         {answerFrame(0), Bytes(protocol::kMaxFragment + 2, 'M')},
         ERROR_INVALID_DATA}};
    for (const auto& [what, frames, error] : cases) {
        Descriptor listener = crvmon::platform::listenSeqpacket(socketPath());
        std::thread fake([&] {
            Descriptor connection(accept(listener.get(), nullptr, nullptr));
            Bytes frame;
            receive(connection.get(), frame);  // the hello
            if (frames.empty()) return;
            for (const Bytes& f : frames) {
                crvmon::platform::sendMessage(connection.get(), f.data(), f.size());
            }
            receive(connection.get(), frame);  // until the client is done
        });
        HANDLE client = openPipe(kName);
        if (frames.size() < 2) {
            EXPECT_EQ(client, INVALID_HANDLE_VALUE) << what;
            EXPECT_EQ(GetLastError(), error) << what;
        } else {
            ASSERT_NE(client, INVALID_HANDLE_VALUE) << what;
            EXPECT_EQ(readText(client, 64).error, error) << what;
            EXPECT_EQ(readText(client, 64).error, error) << what;  // not trusted any more
            EXPECT_TRUE(CloseHandle(client));
        }
        fake.join();
    }
}

TEST_F(PipePeers, ServerDropsMalformedHellosAndKeepsServing) {
    // A name that another process serves cannot be created; once it is gone, it can.
    Descriptor elsewhere = crvmon::platform::listenSeqpacket(socketPath());
    EXPECT_EQ(failureOf(createPipe(kName)), ERROR_ACCESS_DENIED);
    elsewhere.reset();
    HANDLE server = createPipe(kName);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    auto altered = [](std::size_t offset, std::uint32_t value) {
        Bytes frame = protocol::encodeHello({protocol::HelloKind::Open, u"fake"});
        std::memcpy(frame.data() + offset, &value, sizeof value);
        return frame;
    };
    const Bytes malformed[] = {
        Bytes(4, 0),
        altered(0, 0x12345678) /* magic */,
        altered(4, 9) /* kind */,
        altered(8, 3) /* name beyond the frame */,
        altered(8, 0) /* empty name */,
        protocol::encodeHello(
            {protocol::HelloKind::Open, std::u16string(protocol::kMaxNameUnits + 1, u'a')})};
    Descriptor silent = crvmon::platform::connectSeqpacket(socketPath());  // never says a word
    Bytes frame;
    for (const Bytes& hello : malformed) {
        Descriptor raw = crvmon::platform::connectSeqpacket(socketPath());
        ASSERT_EQ(crvmon::platform::sendMessage(raw.get(), hello.data(), hello.size()), 0);
        EXPECT_EQ(receive(raw.get(), frame), 0);
    }
    // Another pipe whose name shares the socket (as hashed long names may) is not this one.
    Descriptor other = crvmon::platform::connectSeqpacket(socketPath());
    Bytes hello = protocol::encodeHello({protocol::HelloKind::Open, u"fake2"});
    ASSERT_EQ(crvmon::platform::sendMessage(other.get(), hello.data(), hello.size()), 0);
    ssize_t size = receive(other.get(), frame);
    auto answer = protocol::decodeAnswer({frame.data(), size > 0 ? std::size_t(size) : 0});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->error, ERROR_FILE_NOT_FOUND);

    HANDLE client = openPipe(kName);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    ASSERT_EQ(writeText(client, "still here"), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 64).text, "still here");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

}  // namespace
