// Named pipes of the stand-in: the errors that tell a missing pipe from a busy one, waiting for
// an instance, and the end of a conversation. Message mode and many clients on a few instances
// are tested through the library against the simulated host service, which runs on these
// pipes; under Wine the same library tests run against Windows' own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "lib/platform/win32.h"
#include "tests/support/private_object_root.h"
#include "tests/support/virtual_clock.h"

namespace {

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

}  // namespace
