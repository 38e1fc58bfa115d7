#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>

#include "platform/win32.h"
#include "private_object_root.h"

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

TEST_F(Sections, HandlesOfOneNameShareTheBytes) {
    SetLastError(ERROR_INVALID_DATA);
    HANDLE created = createSection(kName, 3 * 65536);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE opened = openSection("global\\veltarasharedmem_DEV0");  // names ignore case
    ASSERT_NE(opened, nullptr);
    char* first = mapWhole(created);
    char* second = mapWhole(opened);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first[3 * 65536 - 1], 0);  // a new section reads as zero to its end
    std::strcpy(first, "from the creator");
    std::strcpy(second + 2 * 65536 + 1, "from the opener");
    EXPECT_STREQ(second, "from the creator");

    // Creating it again opens it, at its first size; a view starts at its offset.
    HANDLE again = createSection(kName, 50);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    char* tail = static_cast<char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 2 * 65536, 0));
    ASSERT_NE(tail, nullptr);
    EXPECT_STREQ(tail + 1, "from the opener");

    EXPECT_EQ(openSection("Local\\VeltaraSharedMem_dev0"), nullptr);  // another namespace
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // Any address inside a view unmaps it; any other fails.
    EXPECT_TRUE(UnmapViewOfFile(first + 100));
    int local = 0;
    for (const void* address : {static_cast<void*>(first), static_cast<void*>(&local)}) {
        EXPECT_FALSE(UnmapViewOfFile(address));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
    }
    for (char* view : {second, tail}) EXPECT_TRUE(UnmapViewOfFile(view));
    for (HANDLE handle : {created, opened, again}) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(Sections, ASectionLivesWhileAHandleOrAViewOfItDoes) {
    HANDLE created = createSection(kName, 4096);
    char* view = mapWhole(created);
    ASSERT_NE(view, nullptr);
    view[0] = 'v';
    EXPECT_TRUE(CloseHandle(created));
    HANDLE opened = openSection(kName);  // the view kept it
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(view));
    view = mapWhole(opened);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view[0], 'v');
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(opened));
    EXPECT_EQ(openSection(kName), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(files(), 0u);

    HANDLE unnamed = createSection(nullptr, 100);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(files(), 0u);  // nothing anyone else could open
    EXPECT_TRUE(CloseHandle(unnamed));
}

TEST_F(Sections, BadRequestsFailClearly) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::tuple<HANDLE, DWORD, DWORD, const char*, DWORD> creates[] = {
        {event, PAGE_READWRITE, 100, kName, ERROR_INVALID_HANDLE},
        {INVALID_HANDLE_VALUE, PAGE_READWRITE, 0, kName, ERROR_INVALID_PARAMETER},
        {INVALID_HANDLE_VALUE, PAGE_READWRITE, 100, "Global\\a\\b", ERROR_PATH_NOT_FOUND}};
    for (auto [file, protect, size, name, error] : creates) {
        EXPECT_EQ(CreateFileMappingA(file, nullptr, protect, 0, size, name), nullptr);
        EXPECT_EQ(GetLastError(), error) << name << " " << size;
    }
    EXPECT_EQ(openSection(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    HANDLE section = createSection(kName, 2 * 65536);
    HANDLE readOnly = openSection(kName, FILE_MAP_READ);
    const std::tuple<HANDLE, DWORD, DWORD, SIZE_T, DWORD> maps[] = {
        {event, FILE_MAP_ALL_ACCESS, 0, 0, ERROR_INVALID_HANDLE},
        {section, FILE_MAP_ALL_ACCESS, 4096, 0, ERROR_MAPPED_ALIGNMENT},
        {section, FILE_MAP_ALL_ACCESS, 0, 2 * 65536 + 1, ERROR_ACCESS_DENIED},
        {readOnly, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED}};
    for (auto [handle, access, offset, size, error] : maps) {
        EXPECT_EQ(MapViewOfFile(handle, access, 0, offset, size), nullptr);
        EXPECT_EQ(GetLastError(), error) << access << " " << offset << " " << size;
    }
    for (HANDLE handle : {readOnly, section, event}) EXPECT_TRUE(CloseHandle(handle));
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
