// crvmon.dll carries the version resource that installers and Explorer read, with the project's
// version in both its numbers and its texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crvmon.h"

namespace {

std::string text(const std::vector<char>& info, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr) {
        return "<missing>";
    }
    return std::string(value);
}

TEST(DllVersion, TheResourceCarriesTheProjectVersion) {
    ASSERT_NE(crvmonStatusString(CRVMON_STATUS_OK), nullptr);  // crvmon.dll is loaded
    HMODULE library = GetModuleHandleA("crvmon.dll");
    ASSERT_NE(library, nullptr);
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(library, path, MAX_PATH), 0u);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u) << "no version resource in " << path;
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(MAKELONG(CRVMON_TEST_VERSION_MINOR, CRVMON_TEST_VERSION_MAJOR)));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), CRVMON_TEST_VERSION_PATCH);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(text(info, "FileVersion"), CRVMON_TEST_VERSION);
    EXPECT_EQ(text(info, "ProductVersion"), CRVMON_TEST_VERSION);
    EXPECT_EQ(text(info, "ProductName"), "crvmon");
    EXPECT_EQ(text(info, "OriginalFilename"), "crvmon.dll");
    EXPECT_NE(text(info, "FileDescription").find("telemetry"), std::string::npos);
}

}  // namespace
