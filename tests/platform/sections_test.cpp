#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "lib/platform/win32.h"
#include "tests/support/private_object_root.h"

namespace {

constexpr const char* kName = "Global\\VeltaraSharedMem_dev0";

HANDLE createSection(const char* name, DWORD size) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

HANDLE openSection(const char* name, DWORD access = FILE_MAP_ALL_ACCESS) {
    return OpenFileMappingA(access, FALSE, name);
}

char* mapWhole(HANDLE section) {
    return static_cast<char*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

class Sections : public crvmon::testing::PrivateObjectRoot {
  protected:
    std::size_t files(const std::string& directory = "/section") {
        std::size_t count = 0;
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(root_ + directory, ignored);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            count += it->is_regular_file() ? 1 : 0;
        }
        return count;
    }
};

TEST_F(Sections, HandlesOfOneNameShareTheBytesWhileAHandleOrViewLives) {
    SetLastError(ERROR_INVALID_DATA);
    HANDLE created = createSection(kName, 3 * 65536);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE opened = openSection("global\\veltarasharedmem_DEV0");  // names ignore case
    char* first = mapWhole(created);
    char* second = mapWhole(opened);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first[3 * 65536 - 1], 0);  // a new section reads as zero to its end
    std::strcpy(second + 2 * 65536 + 1, "from the opener");

    // Creating it again opens it, at its first size; a view starts at its offset.
    HANDLE again = createSection(kName, 50);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    char* tail = static_cast<char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 2 * 65536, 0));
    ASSERT_NE(tail, nullptr);
    EXPECT_STREQ(tail + 1, "from the opener");

    // The last view keeps the section after every handle is closed.
    for (HANDLE handle : {created, opened, again}) EXPECT_TRUE(CloseHandle(handle));
    for (char* view : {first, second}) EXPECT_TRUE(UnmapViewOfFile(view));
    HANDLE reopened = openSection(kName);
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(tail));
    char* view = mapWhole(reopened);
    ASSERT_NE(view, nullptr);
    EXPECT_STREQ(view + 2 * 65536 + 1, "from the opener");
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(reopened));
    EXPECT_EQ(openSection(kName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(files(), 0u);
}

// A view is never longer than its section (the bytes past its end would not exist), and starts
// where Windows would let it.
TEST_F(Sections, ViewsStayWithinTheSectionAndItsGranularity) {
    HANDLE section = createSection(kName, 2 * 65536);
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 2 * 65536 + 1), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 4096, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    HANDLE readOnly = openSection(kName, FILE_MAP_READ);
    EXPECT_EQ(MapViewOfFile(readOnly, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    for (HANDLE handle : {readOnly, section}) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(Sections, ProcessesShareSectionsAndADeadCreatorLeavesNone) {
    HANDLE section = createSection(kName, 4096);
    char* view = mapWhole(section);
    ASSERT_NE(view, nullptr);
    std::strcpy(view, "parent");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Reports through its exit status only.
        HANDLE opened = openSection(kName);
        char* shared = opened ? mapWhole(opened) : nullptr;
        if (shared == nullptr || std::strcmp(shared, "parent") != 0) _exit(1);
        std::strcpy(shared + 100, "child");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_STREQ(view + 100, "child");

    // A creator that dies holding its section leaves a file that nobody holds: no section.
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(createSection("Global\\leftover", 4096) != nullptr ? 0 : 1);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(files("/section/global"), 2u);
    EXPECT_EQ(openSection("Global\\leftover"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    HANDLE fresh = createSection("Global\\leftover", 4096);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    EXPECT_TRUE(UnmapViewOfFile(view));
    for (HANDLE handle : {section, fresh}) EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(files(), 0u);
}

}  // namespace
