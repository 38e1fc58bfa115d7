// How many handles (descriptors on Linux) the process holds, to show a leak.
#pragma once

#if defined(_WIN32)
#include <windows.h>

inline int openHandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return static_cast<int>(count);
}
#else
#include <dirent.h>

inline int openHandleCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}
#endif
