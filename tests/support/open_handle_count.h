// How many handles a leaking device would leave behind: descriptors on Linux (the stand-in's
// pipes, device objects and sections are sockets and files); on Windows, handles of files (pipe
// instances and device objects) and sections. Other kinds come and go with the C++ runtime's
// threads and locks, which keep some of theirs until their thread ends.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <winternl.h>

#include <string_view>

inline int openHandleCount() {
    // Handle values are multiples of 4: ask each whether it names an object, and of which type.
    int open = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (!GetHandleInformation(handle, &flags)) continue;
        alignas(8) unsigned char type[512];
        ULONG length = 0;
        if (NtQueryObject(handle, static_cast<OBJECT_INFORMATION_CLASS>(2), type, sizeof type,
                          &length) != 0) {
            continue;
        }
        const auto* name = reinterpret_cast<const UNICODE_STRING*>(type);
        const std::wstring_view kind(name->Buffer, name->Length / sizeof(wchar_t));
        if (kind == L"File" || kind == L"Section") ++open;
    }
    return open;
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
