#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "pipe_test_support.h"
#include "platform/posix/virtual_clock.h"
#include "platform/win32.h"
#include "private_object_root.h"

namespace {

using crvmon::platform::VirtualClock;
using namespace crvmon::testing;

constexpr const wchar_t* kName = L"\\\\.\\pipe\\veltara";

// The retry policy of the library's pipe transport.
HANDLE openWithRetries(const wchar_t* name) {
    for (int busy = 0, missing = 0; busy < 200;) {
        HANDLE pipe = openPipe(name);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        DWORD error = GetLastError();
        if (error == ERROR_PIPE_BUSY) {
            if (!WaitNamedPipeW(name, 2000)) Sleep(10);
            ++busy;
        } else if (error != ERROR_FILE_NOT_FOUND || ++missing > 50) {
            break;
        } else {
            Sleep(10);
        }
    }
    return INVALID_HANDLE_VALUE;
}

class VirtualTime : public PrivateObjectRoot {};

TEST_F(VirtualTime, BusyRetriesCostNoRealTimeAndAreCounted) {
    HANDLE server = createPipe(kName);
    HANDLE holder = openPipe(kName);
    VirtualClock clock;
    EXPECT_EQ(openWithRetries(kName), INVALID_HANDLE_VALUE);
    auto opens = clock.pipeOpens();
    auto waits = clock.pipeWaits();
    ASSERT_EQ(opens.size(), 200u);
    ASSERT_EQ(waits.size(), 200u);
    EXPECT_EQ(clock.sleeps(), std::vector<DWORD>(200, 10));
    for (std::size_t i = 0; i < 200; ++i) {
        EXPECT_EQ(opens[i].name, kName);
        EXPECT_EQ(opens[i].error, ERROR_PIPE_BUSY);
        EXPECT_EQ(waits[i].name, kName);
        EXPECT_EQ(waits[i].timeout, 2000u);
        EXPECT_EQ(waits[i].error, ERROR_SEM_TIMEOUT);
    }
    EXPECT_EQ(clock.elapsedMs(), 200u * 2010u);
    EXPECT_TRUE(CloseHandle(holder));
    EXPECT_TRUE(CloseHandle(server));
}

TEST_F(VirtualTime, MissingPipesAndFreeInstancesAnswerAtOnce) {
    {
        VirtualClock clock;
        EXPECT_EQ(openWithRetries(kName), INVALID_HANDLE_VALUE);
        EXPECT_EQ(clock.pipeOpens().size(), 51u);
        EXPECT_EQ(clock.sleeps(), std::vector<DWORD>(50, 10));
        EXPECT_TRUE(clock.pipeWaits().empty());
        EXPECT_EQ(clock.elapsedMs(), 500u);
        EXPECT_THROW(VirtualClock(), std::logic_error);  // one at a time
    }
    HANDLE server = createPipe(kName, 1, kMessagePipe, 750);
    VirtualClock clock;  // starts again from nothing
    EXPECT_TRUE(WaitNamedPipeW(kName, 2000));
    HANDLE client = openWithRetries(kName);
    EXPECT_EQ(clock.elapsedMs(), 0u);
    // Busy now: the server's default time-out passes.
    EXPECT_EQ(errorOf(WaitNamedPipeW(kName, NMPWAIT_USE_DEFAULT_WAIT)), ERROR_SEM_TIMEOUT);
    Sleep(5000);
    EXPECT_EQ(clock.elapsedMs(), 5750u);
    ASSERT_EQ(clock.pipeWaits().size(), 2u);
    EXPECT_EQ(clock.pipeWaits()[0].error, ERROR_SUCCESS);
    EXPECT_EQ(clock.pipeOpens().size(), 1u);
    EXPECT_TRUE(CloseHandle(client));
    EXPECT_TRUE(CloseHandle(server));
}

}  // namespace
