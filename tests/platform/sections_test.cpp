// Sections of the stand-in: a view never reaches past its section, and starts where Windows
// would let it. The library's own mapping is tested through it against the simulated host
// service.
#include <gtest/gtest.h>

#include "lib/platform/win32.h"
#include "tests/support/private_object_root.h"

namespace {

using Sections = crvmon::testing::PrivateObjectRoot;

TEST_F(Sections, ViewsStayWithinTheSectionAndItsGranularity) {
    const char* name = "Global\\VeltaraSharedMem_dev0";
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2 * 65536, name);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 2 * 65536 + 1), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    HANDLE readOnly = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    void* whole = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 65536, 0);
    ASSERT_NE(whole, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(whole));
    for (HANDLE handle : {readOnly, section}) EXPECT_TRUE(CloseHandle(handle));
}

}  // namespace
