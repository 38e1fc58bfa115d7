#include <windows.h>

#include <string>

#include "tools/common/process_names.h"

namespace crvmon::tools {

std::optional<std::string> systemProcessName(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    // Limited information is what a user without rights over the process may still ask.
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return std::nullopt;
    wchar_t path[MAX_PATH * 2];
    DWORD length = MAX_PATH * 2;
    const BOOL named = QueryFullProcessImageNameW(process, 0, path, &length);
    CloseHandle(process);
    if (!named || length == 0) return std::nullopt;
    // The file name alone ("python.exe"), as a process list shows it.
    DWORD start = length;
    while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') --start;
    const int wide = static_cast<int>(length - start);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, path + start, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::nullopt;
    std::string name(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path + start, wide, name.data(), bytes, nullptr, nullptr);
    return name;
}

}  // namespace crvmon::tools
