#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pipe_test_support.h"
#include "platform/win32.h"
#include "private_object_root.h"

namespace {

using namespace crvmon::testing;

constexpr const wchar_t* kName = L"\\\\.\\pipe\\veltara_dev0";

class NamedPipes : public PrivateObjectRoot {
  protected:
    bool noSocketsLeft() { return std::filesystem::is_empty(root_ + "/pipe"); }
};

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

    // Still taken after its client leaves, and after a disconnect, until it listens again.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_EQ(errorOf(ConnectNamedPipe(server, nullptr)), ERROR_NO_DATA);
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_PIPE_BUSY);
    std::atomic<DWORD> waited{0xFFFF};
    std::thread waiter([&] { waited = errorOf(WaitNamedPipeW(kName, NMPWAIT_WAIT_FOREVER)); });
    std::thread listener([&] { EXPECT_TRUE(ConnectNamedPipe(server, nullptr)); });
    waiter.join();
    EXPECT_EQ(waited.load(), ERROR_SUCCESS);
    HANDLE second = openPipe(kName);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    listener.join();

    // A waiter learns when the pipe goes away altogether.
    std::thread lastWaiter([&] { waited = errorOf(WaitNamedPipeW(kName, NMPWAIT_WAIT_FOREVER)); });
    EXPECT_TRUE(CloseHandle(server));
    lastWaiter.join();
    EXPECT_EQ(waited.load(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failureOf(openPipe(kName)), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(noSocketsLeft());
    EXPECT_TRUE(CloseHandle(second));
}

TEST_F(NamedPipes, MessageModeKeepsTheRestOfAMessageAndByteModeIgnoresBoundaries) {
    HANDLE server = createPipe(kName);
    HANDLE client = openPipe(kName);
    ASSERT_TRUE(setMessageMode(client));
    std::string large(100 * 1024 + 7, '\0');
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
    ASSERT_EQ(writeText(client, "ab"), ERROR_SUCCESS);
    ASSERT_EQ(writeText(client, "cde"), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 10).text, "ab");
    EXPECT_EQ(readText(server, 2).error, ERROR_MORE_DATA);
    EXPECT_EQ(readText(server, 10).text, "e");

    DWORD byteMode = PIPE_READMODE_BYTE;
    ASSERT_TRUE(SetNamedPipeHandleState(client, &byteMode, nullptr, nullptr));
    for (const char* message : {"abc", "", "defg", "hij"}) {
        ASSERT_EQ(writeText(server, message), ERROR_SUCCESS);
    }
    std::string received;
    for (DWORD size : {2u, 4u, 100u, 100u}) {
        if (received.size() == 10) break;
        ReadResult part = readText(client, size);
        EXPECT_EQ(part.error, ERROR_SUCCESS);
        EXPECT_FALSE(part.text.empty());
        received += part.text;
    }
    EXPECT_EQ(received, "abcdefghij");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

TEST_F(NamedPipes, APeerThatLeavesBreaksThePipe) {
    HANDLE server = createPipe(kName);
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
    // Disconnected and listening again, the instance serves the next client.
    EXPECT_TRUE(DisconnectNamedPipe(server));
    std::thread listener([&] { EXPECT_TRUE(ConnectNamedPipe(server, nullptr)); });
    ASSERT_TRUE(WaitNamedPipeW(kName, NMPWAIT_WAIT_FOREVER));
    client = openPipe(kName);
    listener.join();
    ASSERT_EQ(writeText(client, "ping"), ERROR_SUCCESS);
    EXPECT_EQ(readText(server, 64).text, "ping");
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

TEST_F(NamedPipes, ADisconnectedClientIsToldSo) {
    HANDLE server = createPipe(kName);
    EXPECT_EQ(readText(server, 8).error, ERROR_PIPE_LISTENING);
    HANDLE client = openPipe(kName);
    ASSERT_EQ(writeText(server, "bye"), ERROR_SUCCESS);
    EXPECT_EQ(readText(client, 8).text, "bye");
    EXPECT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(writeText(client, "more"), ERROR_PIPE_NOT_CONNECTED);  // before any read sees it
    EXPECT_EQ(readText(client, 8).error, ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(writeText(client, "more"), ERROR_PIPE_NOT_CONNECTED);
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_EQ(readText(server, 8).error, ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(writeText(server, "x"), ERROR_PIPE_NOT_CONNECTED);
    EXPECT_EQ(errorOf(DisconnectNamedPipe(server)), ERROR_PIPE_NOT_CONNECTED);
    EXPECT_TRUE(CloseHandle(server));
}

// What a simulator does to stop: close the handles its threads are blocked on.
TEST_F(NamedPipes, ClosingAHandleWakesTheCallBlockedOnIt) {
    auto blockedCallFails = [](HANDLE handle, bool read) {
        std::atomic<pid_t> thread{0};
        std::atomic<DWORD> error{0xFFFF};
        std::thread caller([&] {
            thread = gettid();
            char buffer[8];
            DWORD count = 0;
            error = errorOf(read ? ReadFile(handle, buffer, sizeof buffer, &count, nullptr)
                                 : ConnectNamedPipe(handle, nullptr));
        });
        while (thread.load() == 0) std::this_thread::yield();
        waitUntilBlocked(thread.load());
        EXPECT_TRUE(CloseHandle(handle));
        caller.join();
        return error.load();
    };
    EXPECT_EQ(blockedCallFails(createPipe(kName), false), ERROR_OPERATION_ABORTED);

    HANDLE server = createPipe(kName);
    HANDLE client = openPipe(kName);
    EXPECT_EQ(blockedCallFails(client, true), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(readText(server, 8).error, ERROR_BROKEN_PIPE);
    EXPECT_TRUE(CloseHandle(server));

    server = createPipe(kName);
    client = openPipe(kName);
    EXPECT_EQ(blockedCallFails(server, true), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(readText(client, 8).error, ERROR_BROKEN_PIPE);
    EXPECT_TRUE(CloseHandle(client));
}

TEST_F(NamedPipes, NamesIgnoreCaseAndTakeAnyCodeUnit) {
    // U+00E9 and U+00C9: one letter in two cases, which Windows matches.
    HANDLE servers[] = {createPipe(L"\\\\.\\pipe\\Veltara_\u00e9", 2),
                        createPipe(L"\\\\.\\pipe\\veltara_\u00e9", 2)};
    HANDLE upper = openPipe(L"\\\\.\\PIPE\\VELTARA_\u00c9");
    EXPECT_NE(upper, INVALID_HANDLE_VALUE);
    EXPECT_EQ(failureOf(CreateFileA("\\\\.\\pipe\\veltara_\xe9", GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr)),
              ERROR_SUCCESS);
    EXPECT_EQ(failureOf(openPipe(L"\\\\.\\pipe\\veltara_e")), ERROR_FILE_NOT_FOUND);
    for (HANDLE handle : {upper, servers[0], servers[1]}) EXPECT_TRUE(CloseHandle(handle));

    // Too long for a socket path, and beyond the BMP: still found, and kept apart.
    std::wstring longName = L"\\\\.\\pipe\\\U0001F600" + std::wstring(200, L'\u00e9');
    HANDLE server = createPipe(longName.c_str());
    EXPECT_EQ(failureOf(openPipe(longName.c_str())), ERROR_SUCCESS);
    longName.back() = L'\u00ea';
    EXPECT_EQ(failureOf(openPipe(longName.c_str())), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CloseHandle(server));

    const wchar_t outOfRange[] = {'\\', '\\', '.', '\\', 'p', 'i', 'p', 'e', '\\', 0x110000, 0};
    std::wstring tooLong = L"\\\\.\\pipe\\" + std::wstring(248, L'a');
    for (const wchar_t* name : {L"\\\\.\\pipe\\", L"\\\\.\\pipe\\a/b", L"\\\\.\\pipe\\a\\b",
                                L"\\\\.\\pipes\\x", outOfRange, tooLong.c_str()}) {
        EXPECT_EQ(failureOf(createPipe(name)), ERROR_INVALID_NAME);
        EXPECT_EQ(failureOf(openPipe(name)), ERROR_INVALID_NAME);
    }
    EXPECT_TRUE(noSocketsLeft());
}

TEST_F(NamedPipes, CallsWithBadArgumentsFailClearly) {
    EXPECT_EQ(
        failureOf(CreateNamedPipeW(kName, PIPE_ACCESS_INBOUND, kMessagePipe, 1, 0, 0, 0, nullptr)),
        ERROR_NOT_SUPPORTED);
    EXPECT_EQ(failureOf(createPipe(kName, 1, PIPE_TYPE_BYTE | PIPE_READMODE_MESSAGE)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(failureOf(createPipe(kName, 256)), ERROR_INVALID_PARAMETER);
    HANDLE server = createPipe(kName, 4);
    EXPECT_EQ(failureOf(createPipe(kName, 5)), ERROR_ACCESS_DENIED);  // must agree with the first
    HANDLE client = openPipe(kName);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buffer[4];
    DWORD count = 0;
    OVERLAPPED overlapped{};
    EXPECT_EQ(errorOf(ReadFile(client, buffer, 4, &count, &overlapped)), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(errorOf(ReadFile(client, buffer, 4, nullptr, nullptr)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(errorOf(ConnectNamedPipe(client, nullptr)), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(errorOf(ReadFile(event, buffer, 4, &count, nullptr)), ERROR_INVALID_HANDLE);
    for (HANDLE handle : {event, client, server}) EXPECT_TRUE(CloseHandle(handle));

    server = createPipe(kName, 1, PIPE_TYPE_BYTE);
    client = openPipe(kName);
    EXPECT_FALSE(setMessageMode(client));  // a byte pipe has no messages to read by
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (HANDLE handle : {client, server}) EXPECT_TRUE(CloseHandle(handle));
}

// Each client opens as the library does (waiting on busy instances), then runs its own
// conversation; every reply must answer its own request.
TEST_F(NamedPipes, ManyClientsShareAFewInstances) {
    constexpr int kInstances = 6;
    constexpr int kClients = 40;
    constexpr int kRequests = 25;
    std::atomic<int> echoed{0};
    std::atomic<int> failures{0};
    std::vector<HANDLE> servers;
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstances; ++i) {
        HANDLE server = servers.emplace_back(createPipe(kName, kInstances));
        threads.emplace_back([server, &echoed] {
            DWORD error;
            while ((error = errorOf(ConnectNamedPipe(server, nullptr))) == ERROR_SUCCESS ||
                   error == ERROR_PIPE_CONNECTED) {
                for (ReadResult request; (request = readText(server, 256)).error == 0; ++echoed) {
                    if (writeText(server, "re:" + request.text) != ERROR_SUCCESS) break;
                }
                if (!DisconnectNamedPipe(server)) return;
            }
        });
    }
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([c, &failures] {
            HANDLE pipe;
            while ((pipe = openPipe(kName)) == INVALID_HANDLE_VALUE &&
                   GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeW(kName, 2000);
            }
            if (!setMessageMode(pipe)) ++failures;
            for (int r = 0; r < kRequests; ++r) {
                std::string request = std::to_string(c) + "/" + std::to_string(r);
                if (writeText(pipe, request) != ERROR_SUCCESS ||
                    readText(pipe, 256).text != "re:" + request) {
                    ++failures;
                }
            }
            CloseHandle(pipe);
        });
    }
    for (std::thread& client : clients) client.join();
    for (HANDLE server : servers) CloseHandle(server);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(echoed.load(), kClients * kRequests);
}

}  // namespace
