// Small helpers for the named-pipe tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"

namespace crvmon::testing {

inline constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

inline HANDLE createPipe(const wchar_t* name, DWORD maxInstances = 1, DWORD pipeMode = kMessagePipe,
                         DWORD defaultTimeout = 0) {
    return CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX, pipeMode, maxInstances, 4096, 4096,
                            defaultTimeout, nullptr);
}

// As the library opens an instance: synchronous, byte read mode.
inline HANDLE openPipe(const wchar_t* name) {
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The error of a call that returns a handle; ERROR_SUCCESS (the handle closed) when it worked.
inline DWORD failureOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return ERROR_SUCCESS;
}

inline bool setMessageMode(HANDLE pipe) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != FALSE;
}

// ERROR_SUCCESS for a call that succeeded, else its error.
inline DWORD errorOf(BOOL result) {
    return result ? ERROR_SUCCESS : GetLastError();
}

inline DWORD writeText(HANDLE pipe, const std::string& text) {
    DWORD written = 0;
    BOOL done = WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    EXPECT_EQ(written, done ? text.size() : 0u);
    return errorOf(done);
}

struct ReadResult {
    DWORD error = ERROR_SUCCESS;
    std::string text;
};

inline ReadResult readText(HANDLE pipe, DWORD size) {
    std::string buffer(size, '\0');
    DWORD count = 12345;
    BOOL done = ReadFile(pipe, buffer.data(), size, &count, nullptr);
    DWORD error = errorOf(done);
    EXPECT_LE(count, size);
    buffer.resize(count <= size ? count : 0);
    return {error, buffer};
}

// Returns once the thread (gettid) sleeps in the kernel. Called after the thread announced that
// it is about to make a blocking call, this means it is blocked in that call.
inline void waitUntilBlocked(pid_t thread) {
    for (;;) {
        std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/stat");
        std::string line;
        std::getline(file, line);
        auto end = line.rfind(')');
        if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S') return;
        std::this_thread::yield();
    }
}

}  // namespace crvmon::testing
