#include "lib/platform/posix/handle_table.h"

#include <new>

#include "lib/platform/posix/kept_forever.h"

namespace crvmon::platform {

__attribute__((init_priority(101))) HandleTable HandleTable::table_;

HandleTable& HandleTable::instance() {
    return table_;
}

// Handles still open stay open, their descriptors with the process.
HandleTable::~HandleTable() {
    keepForever(objects_);
}

HANDLE HandleTable::insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(mutex_);
    try {
        std::uintptr_t value = next_;
        objects_.emplace(value, std::move(object));
        next_ += 4;
        return reinterpret_cast<HANDLE>(value);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<KernelObject> HandleTable::find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
}

bool HandleTable::remove(HANDLE handle) {
    std::shared_ptr<KernelObject> last;  // used after the lock: closing may block
    {
        std::lock_guard lock(mutex_);
        auto found = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == objects_.end()) return false;
        last = std::move(found->second);
        objects_.erase(found);
    }
    last->closed();
    return true;
}

}  // namespace crvmon::platform

BOOL CloseHandle(HANDLE object) {
    if (!crvmon::platform::HandleTable::instance().remove(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
