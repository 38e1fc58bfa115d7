// Named pipes of the stand-in; peers that do not follow the pipe protocol (a fake server with
// crafted answers and frames, raw clients with crafted hellos). Many clients on a few instances
// are tested with the simulated host service.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/pipe_protocol.h"
#include "lib/platform/posix/unix_socket.h"
#include "lib/platform/win32.h"
#include "tests/support/private_object_root.h"
#include "tests/support/virtual_clock.h"

namespace {

namespace protocol = crvmon::platform::pipe_protocol;
using crvmon::platform::Descriptor;
using Bytes = std::vector<std::uint8_t>;

constexpr const wchar_t* kName = L"\\\\.\\pipe\\veltara_dev0";

HANDLE createPipe(const wchar_t* name) {
    return CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096,
                            750, nullptr);
}

// As the library opens an instance: synchronous, byte read mode.
HANDLE openPipe(const wchar_t* name) {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

DWORD errorOf(BOOL result) {
    return result ? ERROR_SUCCESS : GetLastError();
}

// The error of a call that returns a handle; ERROR_SUCCESS (the handle closed) when it worked.
DWORD failureOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return ERROR_SUCCESS;
}

DWORD writeText(HANDLE pipe, const std::string& text) {
    DWORD written = 0;
    BOOL done = WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    EXPECT_EQ(written, done ? text.size() : 0u);
    return errorOf(done);
}

struct ReadResult {
    DWORD error = ERROR_SUCCESS;
    std::string text;
};

ReadResult readText(HANDLE pipe, DWORD size) {
    std::string buffer(size, '\0');
    DWORD count = 12345;
    DWORD error = errorOf(ReadFile(pipe, buffer.data(), size, &count, nullptr));
    EXPECT_LE(count, size);
    buffer.resize(count <= size ? count : 0);
    return {error, buffer};
}

using NamedPipes = crvmon::testing::PrivateObjectRoot;

TEST_F(NamedPipes, OpeningTellsAMissingPipeFromABusyOne) {
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(errorOf(WaitNamedPipeW(kName, 10)), ERROR_FILE_NOT_FOUND);
    HANDLE server = createPipe(kName);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_EQ(failureOf(createPipe(kName)), ERROR_PIPE_BUSY);  // one instance at most

    // A new instance listens before ConnectNamedPipe, as on Windows.
    EXPECT_TRUE(WaitNamedPipeW(kName, NMPWAIT_WAIT_FOREVER));
    HANDLE first = openPipe(kName);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(errorOf(ConnectNamedPipe(server, nullptr)), ERROR_PIPE_CONNECTED);
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_PIPE_BUSY);
    EXPECT_EQ(errorOf(WaitNamedPipeW(kName, 1)), ERROR_SEM_TIMEOUT);
    {
        // On the virtual clock a wait costs its time-out (the server's, when asked for) at once;
        // one such clock runs at a time.
        crvmon::testing::VirtualClock clock;
        EXPECT_THROW(crvmon::testing::VirtualClock(), std::logic_error);
        EXPECT_EQ(errorOf(WaitNamedPipeW(kName, NMPWAIT_USE_DEFAULT_WAIT)), ERROR_SEM_TIMEOUT);
        EXPECT_EQ(clock.elapsedMs(), 750u);
    }

    // Still taken after its client leaves, and after a disconnect, until it listens again: a
    // waiter wakes then, and when the pipe goes away altogether.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_EQ(errorOf(ConnectNamedPipe(server, nullptr)), ERROR_NO_DATA);
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_PIPE_BUSY);
    std::atomic<DWORD> waited{0xFFFF};
    auto waitForever = [&] { waited = errorOf(WaitNamedPipeW(kName, NMPWAIT_WAIT_FOREVER)); };
    std::thread waiter(waitForever);
    std::thread listener([&] { EXPECT_TRUE(ConnectNamedPipe(server, nullptr)); });
    waiter.join();
    EXPECT_EQ(waited.load(), ERROR_SUCCESS);
    HANDLE second = openPipe(kName);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    listener.join();
    std::thread lastWaiter(waitForever);
    EXPECT_TRUE(CloseHandle(server));
    lastWaiter.join();
    EXPECT_EQ(waited.load(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CloseHandle(second));
}

TEST_F(NamedPipes, MessageModeKeepsTheRestOfAMessage) {
    HANDLE server = createPipe(kName);
    HANDLE client = openPipe(kName);
    // A client starts in byte mode, where a message boundary is no place to stop.
    ASSERT_EQ(writeText(server, "abc"), ERROR_SUCCESS);
    EXPECT_EQ(readText(client, 2).error, ERROR_SUCCESS);
    EXPECT_EQ(readText(client, 2).text, "c");
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
    std::string large(100 * 1024 + 7, '\0');  // more than one fragment on the socket
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
    for (const std::string& message : {std::string("hello world"), std::string(), large}) {
        ASSERT_EQ(writeText(server, message), ERROR_SUCCESS);
    }
    const std::tuple<DWORD, DWORD, const char*> steps[] = {
        {5, ERROR_MORE_DATA, "hello"},
        {0, ERROR_MORE_DATA, ""},
        {4, ERROR_MORE_DATA, " wor"},
        {100, ERROR_SUCCESS, "ld"},  // and nothing of the next message
        {100, ERROR_SUCCESS, ""}};
    for (auto [size, error, text] : steps) {
        ReadResult part = readText(client, size);
        EXPECT_EQ(part.error, error) << text;
        EXPECT_EQ(part.text, text);
    }
    ReadResult head = readText(client, 65536);
    EXPECT_EQ(head.error, ERROR_MORE_DATA);
    ReadResult rest = readText(client, 65536);
    EXPECT_EQ(rest.error, ERROR_SUCCESS);
    EXPECT_TRUE(head.text + rest.text == large);

    // The server's handle reads in message mode from its creation.
    ASSERT_EQ(writeText(client, "abc"), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 2).error, ERROR_MORE_DATA);
    EXPECT_EQ(readText(server, 10).text, "c");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

TEST_F(NamedPipes, APeerThatLeavesOrDisconnectsEndsTheConversation) {
    HANDLE server = createPipe(kName);
    EXPECT_EQ(readText(server, 8).error, ERROR_PIPE_LISTENING);
    HANDLE client = openPipe(kName);
    ASSERT_EQ(writeText(server, "last words"), ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(server));
    EXPECT_EQ(readText(client, 64).text, "last words");  // written before the close
    EXPECT_EQ(readText(client, 64).error, ERROR_BROKEN_PIPE);
    EXPECT_EQ(writeText(client, "anyone?"), ERROR_BROKEN_PIPE);
    EXPECT_TRUE(CloseHandle(client));

    server = createPipe(kName);
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 64).error, ERROR_BROKEN_PIPE);
    EXPECT_EQ(writeText(server, "anyone?"), ERROR_NO_DATA);
    EXPECT_TRUE(CloseHandle(server));

    server = createPipe(kName);
    client = openPipe(kName);
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(writeText(client, "more"), ERROR_PIPE_NOT_CONNECTED);  // before any read sees it
    EXPECT_EQ(readText(client, 8).error, ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(readText(server, 8).error, ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(errorOf(DisconnectNamedPipe(server)), ERROR_PIPE_NOT_CONNECTED);
    for (HANDLE handle : {client, server}) EXPECT_TRUE(CloseHandle(handle));
}

// True once the thread (gettid) sleeps in the kernel: after it announced a blocking call, it is
// blocked in that call.
bool sleepsInTheKernel(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string stat;
    std::getline(file, stat);
    auto end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

// What a simulator does to stop, and what a client may do: close a handle another thread reads.
TEST_F(NamedPipes, ClosingAHandleWakesTheReadBlockedOnIt) {
    for (bool closeServer : {false, true}) {
        HANDLE server = createPipe(kName);
        HANDLE client = openPipe(kName);
        HANDLE closed = closeServer ? server : client, other = closeServer ? client : server;
        std::atomic<pid_t> thread{0};
        DWORD error = 0xFFFF;
        std::thread reader([&] {
            thread = gettid();
            error = readText(closed, 8).error;
        });
        while (thread.load() == 0 || !sleepsInTheKernel(thread.load())) std::this_thread::yield();
        EXPECT_TRUE(CloseHandle(closed));
        reader.join();
        EXPECT_EQ(error, ERROR_OPERATION_ABORTED);
        EXPECT_EQ(readText(other, 8).error, ERROR_BROKEN_PIPE);
        EXPECT_TRUE(CloseHandle(other));
    }
}

TEST_F(NamedPipes, NamesIgnoreCaseAndTakeAnyCodeUnit) {
    // U+00E9 and U+00C9: one letter in two cases, which Windows matches.
    HANDLE server = createPipe(L"\\\\.\\pipe\\Veltara_\u00e9");
    EXPECT_EQ(failureOf(createPipe(L"\\\\.\\pipe\\veltara_\u00c9")), ERROR_PIPE_BUSY);  // the same
    EXPECT_EQ(failureOf(openPipe(L"\\\\.\\pipe\\veltara_e")), ERROR_FILE_NOT_FOUND);
    // The ANSI call widens each byte.
    EXPECT_EQ(failureOf(CreateFileA("\\\\.\\PIPE\\VELTARA_\xc9", GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr)),
              ERROR_SUCCESS);
    EXPECT_TRUE(CloseHandle(server));

    // Too long for a socket path (hashed), and beyond the BMP: still found, and kept apart.
    std::wstring longName = L"\\\\.\\pipe\\\U0001F600" + std::wstring(200, L'\u00e9');
    server = createPipe(longName.c_str());
    EXPECT_EQ(failureOf(openPipe(longName.c_str())), ERROR_SUCCESS);
    longName.back() = L'\u00ea';
    EXPECT_EQ(failureOf(openPipe(longName.c_str())), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CloseHandle(server));
    for (const wchar_t* name : {L"\\\\.\\pipe\\", L"\\\\.\\pipe\\a/b", L"\\\\.\\pipes\\x"}) {
        EXPECT_EQ(failureOf(createPipe(name)), ERROR_INVALID_NAME);
        EXPECT_EQ(failureOf(openPipe(name)), ERROR_INVALID_NAME);
    }
}

constexpr const wchar_t* kFake = L"\\\\.\\pipe\\fake";

std::string fakeSocketPath() {
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

TEST_F(NamedPipes, ClientRejectsMalformedAnswersAndFrames) {
    const std::tuple<const char*, std::vector<Bytes>, DWORD> cases[] = {
        {"short answer", {Bytes(8, 0)}, ERROR_INVALID_DATA},
        {"unknown pipe type", {answerFrame(0, 7)}, ERROR_INVALID_DATA},
        {"hang-up before answering", {}, ERROR_FILE_NOT_FOUND},
        {"refusal passed on", {answerFrame(ERROR_ACCESS_DENIED)}, ERROR_ACCESS_DENIED},
        // Opened; then the read fails.
        {"unknown tag", {answerFrame(0), Bytes{'Z', 1}}, ERROR_INVALID_DATA},
        {"fragment beyond the limit",
         {answerFrame(0), Bytes(protocol::kMaxFragment + 2, protocol::kFinalFragment)},
         ERROR_INVALID_DATA}};
    for (const auto& [what, frames, error] : cases) {
        Descriptor listener = crvmon::platform::listenSeqpacket(fakeSocketPath());
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
        HANDLE client = openPipe(kFake);
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

TEST_F(NamedPipes, ServerDropsMalformedHellosAndKeepsServing) {
    // A name that another process serves cannot be created; once it is gone, it can.
    Descriptor elsewhere = crvmon::platform::listenSeqpacket(fakeSocketPath());
    EXPECT_EQ(failureOf(createPipe(kFake)), ERROR_ACCESS_DENIED);
    elsewhere.reset();
    HANDLE server = createPipe(kFake);
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
    Descriptor silent = crvmon::platform::connectSeqpacket(fakeSocketPath());  // never says a word
    Bytes frame;
    for (const Bytes& bad : malformed) {
        Descriptor raw = crvmon::platform::connectSeqpacket(fakeSocketPath());
        ASSERT_EQ(crvmon::platform::sendMessage(raw.get(), bad.data(), bad.size()), 0);
        EXPECT_EQ(receive(raw.get(), frame), 0);
    }
    // Another pipe whose name shares the socket (as hashed long names may) is not this one.
    Descriptor other = crvmon::platform::connectSeqpacket(fakeSocketPath());
    Bytes otherHello = protocol::encodeHello({protocol::HelloKind::Open, u"fake2"});
    ASSERT_EQ(crvmon::platform::sendMessage(other.get(), otherHello.data(), otherHello.size()), 0);
    ssize_t size = receive(other.get(), frame);
    auto answer = protocol::decodeAnswer({frame.data(), size > 0 ? std::size_t(size) : 0});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->error, ERROR_FILE_NOT_FOUND);

    HANDLE client = openPipe(kFake);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    ASSERT_EQ(writeText(client, "still here"), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 64).text, "still here");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

}  // namespace
