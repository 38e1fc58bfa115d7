#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/device_object_server.h"
#include "platform/win32.h"
#include "private_object_root.h"

namespace {

using crvmon::platform::DeviceIoReply;
using crvmon::platform::DeviceIoRequest;
using crvmon::platform::DeviceObjectServer;
using Bytes = std::vector<std::uint8_t>;

HANDLE openDevice(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

std::size_t entriesIn(const char* directory) {
    std::size_t count = 0;
    if (DIR* dir = opendir(directory)) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

// Replies with the input reversed, so a reply shows which request it answers.
DeviceIoReply reversed(const DeviceIoRequest& request) {
    return DeviceIoReply{Bytes(request.input.rbegin(), request.input.rend())};
}

// The error of a call that should fail; ERROR_SUCCESS when it succeeded.
DWORD errorOf(BOOL result) {
    return result ? ERROR_SUCCESS : GetLastError();
}

class DeviceObjects : public crvmon::testing::PrivateObjectRoot {};

TEST_F(DeviceObjects, OpeningFindsOnlyServedObjects) {
    SetLastError(0);
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    {
        DeviceObjectServer server("corvanta_pcie3", reversed);
        HANDLE device = openDevice("\\\\.\\Corvanta_PCIe3");  // object names ignore case
        ASSERT_NE(device, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(CloseHandle(device));
        EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie4"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
        // Named pipes are another namespace: not a device object called "pipe".
        EXPECT_EQ(openDevice("\\\\.\\pipe\\corvanta_pcie3"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie3"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    const std::pair<const char*, DWORD> badNames[] = {{"\\\\.\\", ERROR_INVALID_NAME},
                                                      {"\\\\.\\a/b", ERROR_INVALID_NAME},
                                                      {"\\\\.\\..", ERROR_INVALID_NAME},
                                                      {"C:\\corvanta_pcie3", ERROR_PATH_NOT_FOUND},
                                                      {nullptr, ERROR_INVALID_PARAMETER}};
    for (auto [name, error] : badNames) {
        EXPECT_EQ(openDevice(name), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), error) << (name ? name : "null");
    }
    EXPECT_THROW(DeviceObjectServer("a/b", reversed), std::invalid_argument);
}

TEST_F(DeviceObjects, StaleSocketReadsAsNotFoundAndIsReplaced) {
    std::optional<DeviceObjectServer> first;
    first.emplace("corvanta_pcie0", reversed);
    std::string path = first->path();
    EXPECT_THROW(DeviceObjectServer("corvanta_pcie0", reversed), std::system_error);
    first.reset();

    // A server that died without removing its socket file.
    int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);
    ASSERT_EQ(access(path.c_str(), F_OK), 0);

    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    DeviceObjectServer second("corvanta_pcie0", reversed);
    HANDLE device = openDevice("\\\\.\\corvanta_pcie0");
    EXPECT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceObjects, PathsBeyondTheSocketLimitFailClearly) {
    std::string longRoot = root_ + "/" + std::string(120, 'r');
    setenv("CRVMON_OBJECT_ROOT", longRoot.c_str(), 1);
    EXPECT_THROW(DeviceObjectServer("corvanta_pcie0", reversed), std::system_error);
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(DeviceObjects, RequestsAndByteCountsPassUnchanged) {
    std::mutex mutex;
    std::vector<DeviceIoRequest> seen;
    DeviceObjectServer server("corvanta_pcie1", [&](const DeviceIoRequest& request) {
        std::lock_guard lock(mutex);
        seen.push_back(request);
        // The first input byte says how many bytes to send back.
        Bytes output(request.input.empty() ? 100 : request.input[0]);
        for (std::size_t i = 0; i < output.size(); ++i)
            output[i] = static_cast<std::uint8_t>(i + 1);
        return DeviceIoReply{output};
    });
    HANDLE device = openDevice("\\\\.\\corvanta_pcie1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    for (std::uint8_t count : {0, 1, 5, 64}) {
        std::uint8_t input[3] = {count, 0xAB, 0xCD};
        Bytes output(64, 0xEE);
        DWORD returned = 1234;
        ASSERT_TRUE(DeviceIoControl(device, 0x00222000, input, sizeof input, output.data(), 64,
                                    &returned, nullptr));
        EXPECT_EQ(returned, count);
        for (std::size_t i = 0; i < output.size(); ++i) {
            EXPECT_EQ(output[i], i < count ? i + 1 : 0xEE) << "byte " << i << " of " << +count;
        }
    }
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].code, 0x00222000u);
    EXPECT_EQ(seen[0].input, (Bytes{0, 0xAB, 0xCD}));
    EXPECT_EQ(seen[0].outputCapacity, 64u);

    // The handler offers 100 bytes; the caller's 10-byte buffer takes 10 and no more.
    Bytes output(16, 0xEE);
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(device, 0x00222042, nullptr, 0, output.data(), 10, &returned, nullptr));
    EXPECT_EQ(returned, 10u);
    EXPECT_EQ(output, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_TRUE(seen.back().input.empty());
    EXPECT_EQ(seen.back().outputCapacity, 10u);
    EXPECT_TRUE(CloseHandle(device));
}

// One buffer as input and output, as METHOD_BUFFERED callers pass it.
TEST_F(DeviceObjects, OverlappedRequestsCompleteAtOnce) {
    DeviceObjectServer server("corvanta_pcie2", reversed);
    HANDLE device = openDevice("\\\\.\\corvanta_pcie2");
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    for (DWORD size : {4u, 0u}) {
        OVERLAPPED overlapped{};
        overlapped.Internal = 0x55;
        overlapped.InternalHigh = 0x55;
        overlapped.hEvent = event;
        Bytes buffer{9, 8, 7, 6};
        ASSERT_TRUE(DeviceIoControl(device, 2, buffer.data(), size, buffer.data(), 4, nullptr,
                                    &overlapped));
        EXPECT_EQ(buffer, (size == 4 ? Bytes{6, 7, 8, 9} : Bytes{9, 8, 7, 6}));
        EXPECT_EQ(overlapped.Internal, 0u);
        EXPECT_EQ(overlapped.InternalHigh, size);
        DWORD transferred = 99;
        EXPECT_TRUE(GetOverlappedResult(device, &overlapped, &transferred, TRUE));
        EXPECT_EQ(transferred, size);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    }
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceObjects, FailedRequestsFailAtOnceAndLeaveTheRecordPending) {
    std::atomic<int> calls{0};
    DeviceObjectServer server("corvanta_pcie2", [&](const DeviceIoRequest& request) {
        ++calls;
        if (request.code == 1) return DeviceIoReply{{1, 2, 3}, ERROR_INVALID_FUNCTION};
        if (request.code == 2) throw std::runtime_error("handler fault");
        return DeviceIoReply{{4}};
    });
    HANDLE device = openDevice("\\\\.\\corvanta_pcie2");
    HANDLE event =
        CreateEventW(nullptr, TRUE, TRUE, nullptr);  // signalled, as the library makes it
    ASSERT_NE(device, INVALID_HANDLE_VALUE);

    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    Bytes output(4, 0xEE);
    DWORD returned = 77;
    EXPECT_EQ(
        errorOf(DeviceIoControl(device, 1, nullptr, 0, output.data(), 4, &returned, &overlapped)),
        ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(output, Bytes(4, 0xEE));
    EXPECT_EQ(overlapped.Internal, STATUS_PENDING);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    DWORD transferred = 0;
    EXPECT_EQ(errorOf(GetOverlappedResult(device, &overlapped, &transferred, FALSE)),
              ERROR_IO_INCOMPLETE);

    // A handler that throws fails its request; the connection goes on serving.
    EXPECT_EQ(errorOf(DeviceIoControl(device, 2, nullptr, 0, output.data(), 4, &returned, nullptr)),
              ERROR_GEN_FAILURE);
    EXPECT_TRUE(DeviceIoControl(device, 3, nullptr, 0, output.data(), 4, &returned, nullptr));
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(calls.load(), 3);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceObjects, MisusedCallsFailWithoutReachingTheServer) {
    std::atomic<int> calls{0};
    DeviceObjectServer server("corvanta_pcie2", [&](const DeviceIoRequest&) {
        ++calls;
        return DeviceIoReply{};
    });
    HANDLE device = openDevice("\\\\.\\corvanta_pcie2");
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::uint8_t buffer[8] = {};
    DWORD returned = 0;

    EXPECT_EQ(errorOf(DeviceIoControl(event, 1, buffer, 8, buffer, 8, &returned, nullptr)),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, nullptr, 8, buffer, 8, &returned, nullptr)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, buffer, 8, nullptr, 8, &returned, nullptr)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, buffer, 8, buffer, 8, nullptr, nullptr)),
              ERROR_INVALID_PARAMETER);
    Bytes huge(1 << 20);
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, huge.data(), static_cast<DWORD>(huge.size()),
                                      nullptr, 0, &returned, nullptr)),
              ERROR_INVALID_PARAMETER);
    OVERLAPPED notAnEvent{};
    notAnEvent.hEvent = device;
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, buffer, 8, buffer, 8, nullptr, &notAnEvent)),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(calls.load(), 0);

    EXPECT_TRUE(CloseHandle(device));
    EXPECT_EQ(errorOf(DeviceIoControl(device, 1, buffer, 8, buffer, 8, &returned, nullptr)),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(errorOf(CloseHandle(device)), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(DeviceObjects, ClientOutlivingItsServerGetsBrokenPipe) {
    auto server = std::make_unique<DeviceObjectServer>("corvanta_pcie5", reversed);
    HANDLE device = openDevice("\\\\.\\corvanta_pcie5");
    HANDLE idle = openDevice("\\\\.\\corvanta_pcie5");  // connected, never used
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_NE(idle, INVALID_HANDLE_VALUE);
    std::uint8_t buffer[2] = {1, 2};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, 1, buffer, 2, buffer, 2, &returned, nullptr));

    server.reset();  // returns with both clients still connected
    for (HANDLE handle : {device, idle, device}) {
        EXPECT_EQ(errorOf(DeviceIoControl(handle, 1, buffer, 2, buffer, 2, &returned, nullptr)),
                  ERROR_BROKEN_PIPE);
    }
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_TRUE(CloseHandle(idle));
    EXPECT_EQ(openDevice("\\\\.\\corvanta_pcie5"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceObjects, RepeatedOpensLeakNeitherDescriptorsNorThreads) {
    std::size_t descriptors = entriesIn("/proc/self/fd");
    std::size_t threads = entriesIn("/proc/self/task");
    {
        DeviceObjectServer server("corvanta_pcie6", reversed);
        for (int i = 0; i < 300; ++i) {
            HANDLE device = openDevice("\\\\.\\corvanta_pcie6");
            ASSERT_NE(device, INVALID_HANDLE_VALUE) << "open " << i;
            std::uint8_t buffer[4] = {1, 2, 3, static_cast<std::uint8_t>(i)};
            DWORD returned = 0;
            ASSERT_TRUE(DeviceIoControl(device, 1, buffer, 4, buffer, 4, &returned, nullptr));
            ASSERT_TRUE(CloseHandle(device));
        }
        // The acceptor, plus connection threads still on their way out.
        EXPECT_LT(entriesIn("/proc/self/task"), threads + 10);
        EXPECT_LT(entriesIn("/proc/self/fd"), descriptors + 10);
    }
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors);
}

TEST_F(DeviceObjects, ConcurrentClientsEachGetTheirOwnReplies) {
    DeviceObjectServer server("corvanta_pcie7", reversed);
    HANDLE shared = openDevice("\\\\.\\corvanta_pcie7");
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    std::atomic<int> failures{0};
    auto client = [&](std::uint8_t id, bool ownHandle) {
        HANDLE device = ownHandle ? openDevice("\\\\.\\corvanta_pcie7") : shared;
        if (device == INVALID_HANDLE_VALUE) {
            ++failures;
            return;
        }
        for (int i = 0; i < 200; ++i) {
            Bytes buffer{id, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0};
            Bytes expected(buffer.rbegin(), buffer.rend());
            DWORD returned = 0;
            if (!DeviceIoControl(device, 1, buffer.data(), 4, buffer.data(), 4, &returned,
                                 nullptr) ||
                returned != 4 || buffer != expected) {
                ++failures;
            }
        }
        if (ownHandle && !CloseHandle(device)) ++failures;
    };
    std::vector<std::thread> clients;
    for (std::uint8_t id = 0; id < 8; ++id) clients.emplace_back(client, id, id % 2 == 0);
    for (auto& thread : clients) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(CloseHandle(shared));
}

}  // namespace
