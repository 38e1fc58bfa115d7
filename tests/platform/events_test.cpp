#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32.h"

namespace {

TEST(Events, AutoResetReleasesOneWaitManualResetStaysUntilReset) {
    HANDLE autoReset = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    HANDLE manualReset = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(autoReset, nullptr);
    ASSERT_NE(manualReset, nullptr);

    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(autoReset));
    EXPECT_EQ(WaitForSingleObject(autoReset, 10), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_TIMEOUT);

    EXPECT_EQ(WaitForSingleObject(manualReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manualReset, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manualReset));
    EXPECT_EQ(WaitForSingleObject(manualReset, 0), WAIT_TIMEOUT);

    EXPECT_TRUE(CloseHandle(autoReset));
    EXPECT_TRUE(CloseHandle(manualReset));
}

TEST(Events, StartUnsignalledAndWakeAWaiterOnAnotherThread) {
    EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, L"Global\\x"), nullptr);  // unnamed only
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForSingleObject(event, INFINITE); });
    EXPECT_TRUE(SetEvent(event));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Handles, UnknownAndClosedHandlesFailWithoutHarm) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    // A handle is never given out twice, so the stale one cannot reach the new event.
    HANDLE next = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(next, event);

    for (HANDLE bad : {event, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
                       reinterpret_cast<HANDLE>(std::uintptr_t{0x12345})}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(WaitForSingleObject(bad, INFINITE), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(next));
}

TEST(OverlappedResult, ReportsPendingCompletedAndWaitedRequests) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 99;

    overlapped.Internal = STATUS_PENDING;
    EXPECT_FALSE(GetOverlappedResult(nullptr, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    // Completed: no wait on the (unsignalled) event.
    overlapped.Internal = 0;
    overlapped.InternalHigh = 12;
    EXPECT_TRUE(GetOverlappedResult(nullptr, &overlapped, &transferred, TRUE));
    EXPECT_EQ(transferred, 12u);

    // Pending, completed by another thread while this one waits on the event.
    overlapped.Internal = STATUS_PENDING;
    std::thread completer([&] {
        overlapped.InternalHigh = 7;
        std::atomic_ref(overlapped.Internal).store(0, std::memory_order_release);
        SetEvent(event);
    });
    EXPECT_TRUE(GetOverlappedResult(nullptr, &overlapped, &transferred, TRUE));
    completer.join();
    EXPECT_EQ(transferred, 7u);

    // Nothing could ever complete a pending record without an event: no endless wait.
    overlapped.Internal = STATUS_PENDING;
    overlapped.hEvent = nullptr;
    EXPECT_FALSE(GetOverlappedResult(nullptr, &overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);

    EXPECT_FALSE(GetOverlappedResult(nullptr, &overlapped, nullptr, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(event));
}

}  // namespace
