// File-mapping sections: CreateFileMappingA, OpenFileMappingA, MapViewOfFile, UnmapViewOfFile.
//
// A named section is a file under <root>/section/global or <root>/section/local, mapped with
// mmap, so that every process sees the same bytes. On Windows a section goes when its last
// handle or view anywhere is gone; here every process that holds a section holds a shared
// flock on its own open file description. Whoever lets go and then finds it can take the lock
// exclusively was the last holder and removes the file; a file that nobody holds a lock on
// (its creator died) is stale and is removed by the next caller that finds it. Files appear
// under their name only whole: they are created under a temporary name, sized, locked and then
// linked into place.
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "lib/platform/posix/handle_table.h"
#include "lib/platform/posix/kept_forever.h"
#include "lib/platform/posix/object_names.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/system_errors.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform {

namespace {

// Windows' allocation granularity: view offsets are multiples of it.
constexpr std::uint64_t kGranularity = 64 * 1024;
// Windows' limit for object names.
constexpr std::size_t kMaxNameLength = 260;
// Longest file name most file systems take.
constexpr std::size_t kMaxComponent = 255;
// Rounds of "create, or open the one that exists" while another process removes a section of
// the same name; each round waits for nothing but that removal.
constexpr int kCreateRounds = 1000;

// This process's hold on one section: an open description of its file with a shared lock.
// Handles and views share it; the last of them lets go.
class SectionFile {
  public:
    SectionFile(Descriptor fd, std::uint64_t size, std::string path, dev_t device, ino_t inode)
        : fd_(std::move(fd)), size_(size), path_(std::move(path)), device_(device), inode_(inode) {}
    ~SectionFile() {
        if (path_.empty()) return;  // unnamed: the file has no name to remove
        flock(fd_.get(), LOCK_UN);
        if (flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) removeIfSame(path_, device_, inode_);
    }
    SectionFile(const SectionFile&) = delete;
    SectionFile& operator=(const SectionFile&) = delete;

    int fd() const { return fd_.get(); }
    std::uint64_t size() const { return size_; }

    // Removes the name only while it still stands for that file: a new section may have it.
    static void removeIfSame(const std::string& path, dev_t device, ino_t inode) {
        struct stat status;
        if (lstat(path.c_str(), &status) == 0 && status.st_dev == device &&
            status.st_ino == inode) {
            unlink(path.c_str());
        }
    }

  private:
    Descriptor fd_;
    const std::uint64_t size_;
    const std::string path_;
    const dev_t device_;
    const ino_t inode_;
};

class SectionHandle : public KernelObject {
  public:
    SectionHandle(std::shared_ptr<SectionFile> file, bool writable)
        : file_(std::move(file)), writable_(writable) {}

    const std::shared_ptr<SectionFile>& file() const { return file_; }
    bool writable() const { return writable_; }

  private:
    const std::shared_ptr<SectionFile> file_;
    const bool writable_;
};

struct View {
    std::size_t length;
    std::shared_ptr<SectionFile> file;
};

struct Views {
    std::mutex mutex;
    std::map<std::uintptr_t, View> byBase;
    // Views still mapped when the image unloads or the process ends stay mapped.
    ~Views() { keepForever(byBase); }
};

// Built before, and so destroyed after, every static object of the image that maps views: the
// library's state unmaps its views when it is unloaded.
__attribute__((init_priority(101))) Views mapped;

Views& views() {
    return mapped;
}

// The file of a section name: ERROR_SUCCESS with its directory under the object root (as
// objectDirectory takes it) and its path, or why the name cannot be one.
DWORD sectionPath(std::string_view name, std::string& kind, std::string& path) {
    if (name.size() > kMaxNameLength) return ERROR_FILENAME_EXCED_RANGE;
    std::u16string units = object_names::widen(name);
    kind = "section/local";
    if (object_names::startsWithNoCase(units, "Global\\")) {
        kind = "section/global";
        units.erase(0, 7);
    } else if (object_names::startsWithNoCase(units, "Local\\")) {
        units.erase(0, 6);
    }
    if (units.empty()) return ERROR_INVALID_NAME;
    // Other object directories do not exist in the stand-in.
    if (units.find(u'\\') != std::u16string::npos) return ERROR_PATH_NOT_FOUND;
    std::string component = object_names::fileComponent(object_names::foldCase(units));
    if (component.size() > kMaxComponent) return ERROR_FILENAME_EXCED_RANGE;
    path = objectRoot() + "/" + kind + "/" + component;
    return ERROR_SUCCESS;
}

enum class Found { Yes, Gone, Failed };

// Opens the live section at the path. Gone: no file, a stale one (removed here), or one being
// removed by its last holder.
Found openExisting(const std::string& path, std::shared_ptr<SectionFile>& file, DWORD& error) {
    Descriptor fd(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return Found::Gone;
        error = windowsError(errno);
        return Found::Failed;
    }
    struct stat status;
    if (fstat(fd.get(), &status) != 0) {
        error = windowsError(errno);
        return Found::Failed;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        SectionFile::removeIfSame(path, status.st_dev, status.st_ino);
        return Found::Gone;
    }
    // Refused only while a last holder removes it; a name removed in between has no links.
    if (flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return Found::Gone;
    if (fstat(fd.get(), &status) != 0 || status.st_nlink == 0) return Found::Gone;
    file = std::make_shared<SectionFile>(std::move(fd), static_cast<std::uint64_t>(status.st_size),
                                         path, status.st_dev, status.st_ino);
    return Found::Yes;
}

// Sizes a new section's file, committing the space as Windows commits a section's pages, so
// that writing to a view never meets a full disk.
DWORD allocate(int fd, std::uint64_t size) {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    int error = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (error == EINVAL || error == EOPNOTSUPP) {
        error = ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
    }
    if (error == ENOSPC || error == EFBIG) return ERROR_NOT_ENOUGH_MEMORY;
    return windowsError(error);
}

// A new file in the directory, locked and sized, under a temporary name.
struct NewFile {
    Descriptor fd;
    std::string temporary;
    struct stat status;
};

DWORD newSectionFile(const std::string& directory, std::uint64_t size, NewFile& created) {
    created.temporary = directory + "/.new-XXXXXX";
    created.fd.reset(mkostemp(created.temporary.data(), O_CLOEXEC));
    if (!created.fd.valid()) return windowsError(errno);
    DWORD error = ERROR_SUCCESS;
    if (flock(created.fd.get(), LOCK_SH) != 0 || fstat(created.fd.get(), &created.status) != 0) {
        error = windowsError(errno);
    }
    if (error == ERROR_SUCCESS) error = allocate(created.fd.get(), size);
    if (error != ERROR_SUCCESS) {
        unlink(created.temporary.c_str());
        created.fd.reset();
    }
    return error;
}

// A named section: the existing one (existed true) or a new one of the size.
DWORD createOrOpen(const std::string& directory, const std::string& path, std::uint64_t size,
                   std::shared_ptr<SectionFile>& file, bool& existed) {
    NewFile created;
    if (DWORD error = newSectionFile(directory, size, created); error != ERROR_SUCCESS) {
        return error;
    }
    DWORD error = ERROR_ACCESS_DENIED;  // another process kept replacing it
    for (int round = 0; round < kCreateRounds; ++round) {
        if (link(created.temporary.c_str(), path.c_str()) == 0) {
            unlink(created.temporary.c_str());
            file = std::make_shared<SectionFile>(std::move(created.fd), size, path,
                                                 created.status.st_dev, created.status.st_ino);
            existed = false;
            return ERROR_SUCCESS;
        }
        if (errno != EEXIST) {
            error = windowsError(errno);
            break;
        }
        Found found = openExisting(path, file, error);
        if (found == Found::Yes) {
            unlink(created.temporary.c_str());
            existed = true;
            return ERROR_SUCCESS;
        }
        if (found == Found::Failed) break;
        sched_yield();  // its last holder is removing it
    }
    unlink(created.temporary.c_str());
    return error;
}

bool validViewAccess(DWORD access) {
    return access != 0 && (access & ~FILE_MAP_ALL_ACCESS) == 0;
}

HANDLE failWith(DWORD error) {
    SetLastError(error);
    return nullptr;
}

HANDLE insertHandle(std::shared_ptr<SectionFile> file, bool writable) {
    HANDLE handle =
        HandleTable::instance().insert(std::make_shared<SectionHandle>(std::move(file), writable));
    if (handle == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

}  // namespace

}  // namespace crvmon::platform

using namespace crvmon::platform;

HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name) {
    // Sections of ordinary files are not part of the stand-in.
    if (file != INVALID_HANDLE_VALUE) return failWith(ERROR_INVALID_HANDLE);
    if ((protect & ~SEC_COMMIT) != PAGE_READWRITE) return failWith(ERROR_INVALID_PARAMETER);
    const std::uint64_t size = (std::uint64_t{maximumSizeHigh} << 32) | maximumSizeLow;
    if (size == 0) return failWith(ERROR_INVALID_PARAMETER);
    if (size > std::numeric_limits<std::size_t>::max()) return failWith(ERROR_NOT_ENOUGH_MEMORY);
    try {
        std::shared_ptr<SectionFile> section;
        bool existed = false;
        if (name == nullptr) {
            // Unnamed: nobody else can open it, and its file goes with its last hold.
            NewFile created;
            if (DWORD error = newSectionFile(objectDirectory("section"), size, created);
                error != ERROR_SUCCESS) {
                return failWith(error);
            }
            unlink(created.temporary.c_str());
            section = std::make_shared<SectionFile>(std::move(created.fd), size, "", 0, 0);
        } else {
            std::string kind;
            std::string path;
            if (DWORD error = sectionPath(name, kind, path); error != ERROR_SUCCESS) {
                return failWith(error);
            }
            if (DWORD error = createOrOpen(objectDirectory(kind), path, size, section, existed);
                error != ERROR_SUCCESS) {
                return failWith(error);
            }
        }
        HANDLE handle = insertHandle(std::move(section), true);
        if (handle != nullptr) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    } catch (const std::system_error& failure) {
        return failWith(windowsError(failure.code().value()));
    } catch (const std::bad_alloc&) {
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    }
}

HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL, LPCSTR name) {
    if (name == nullptr || !validViewAccess(desiredAccess)) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    try {
        std::string kind;
        std::string path;
        if (DWORD error = sectionPath(name, kind, path); error != ERROR_SUCCESS) {
            return failWith(error);
        }
        std::shared_ptr<SectionFile> section;
        DWORD error = ERROR_SUCCESS;
        switch (openExisting(path, section, error)) {
            case Found::Yes:
                return insertHandle(std::move(section), (desiredAccess & FILE_MAP_WRITE) != 0);
            case Found::Gone: return failWith(ERROR_FILE_NOT_FOUND);
            case Found::Failed: break;
        }
        return failWith(error);
    } catch (const std::bad_alloc&) {
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    }
}

LPVOID MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess, DWORD fileOffsetHigh,
                     DWORD fileOffsetLow, SIZE_T numberOfBytesToMap) {
    auto handle = HandleTable::instance().lookup<SectionHandle>(fileMappingObject);
    if (!handle) return failWith(ERROR_INVALID_HANDLE);
    if (!validViewAccess(desiredAccess)) return failWith(ERROR_INVALID_PARAMETER);
    // FILE_MAP_COPY alone asks for a private copy; FILE_MAP_ALL_ACCESS includes its bit.
    const bool copy = desiredAccess == FILE_MAP_COPY;
    const bool write = copy || (desiredAccess & FILE_MAP_WRITE) != 0;
    if (write && !copy && !handle->writable()) return failWith(ERROR_ACCESS_DENIED);

    const std::shared_ptr<SectionFile>& file = handle->file();
    const std::uint64_t offset = (std::uint64_t{fileOffsetHigh} << 32) | fileOffsetLow;
    if (offset % kGranularity != 0) return failWith(ERROR_MAPPED_ALIGNMENT);
    if (offset >= file->size() || numberOfBytesToMap > file->size() - offset) {
        return failWith(ERROR_ACCESS_DENIED);
    }
    const auto length = static_cast<std::size_t>(numberOfBytesToMap != 0 ? numberOfBytesToMap
                                                                         : file->size() - offset);
    void* base = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ,
                      copy ? MAP_PRIVATE : MAP_SHARED, file->fd(), static_cast<off_t>(offset));
    if (base == MAP_FAILED) return failWith(windowsError(errno));
    try {
        Views& mapped = views();
        std::lock_guard lock(mapped.mutex);
        mapped.byBase.emplace(reinterpret_cast<std::uintptr_t>(base), View{length, file});
    } catch (const std::bad_alloc&) {
        munmap(base, length);
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    return base;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    const auto address = reinterpret_cast<std::uintptr_t>(baseAddress);
    View view;
    std::uintptr_t base = 0;
    {
        Views& mapped = views();
        std::lock_guard lock(mapped.mutex);
        auto after = mapped.byBase.upper_bound(address);
        if (after == mapped.byBase.begin()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        auto found = std::prev(after);
        if (address >= found->first + found->second.length) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        base = found->first;
        view = std::move(found->second);
        mapped.byBase.erase(found);
    }
    munmap(reinterpret_cast<void*>(base), view.length);
    return TRUE;  // the section goes with the view when it was its last hold
}
