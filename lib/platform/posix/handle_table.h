// The process's table of stand-in kernel objects. A HANDLE names one entry; each kind of object
// (event, device connection, and later others) derives from KernelObject and is found again with
// lookup<Kind>. Handle values are never reused, so a stale handle fails instead of reaching
// whatever object was opened after it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform {

class KernelObject {
  public:
    KernelObject() = default;
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    // Called once by CloseHandle, after the handle has left the table. Calls still running on
    // the object keep it alive; an object whose calls may block wakes them here.
    virtual void closed() {}
};

class HandleTable {
  public:
    static HandleTable& instance();

    // Null when the table cannot grow (the caller reports ERROR_NOT_ENOUGH_MEMORY).
    HANDLE insert(std::shared_ptr<KernelObject> object);

    // The object behind the handle if it is open and of this kind. The caller's reference keeps
    // the object alive through a CloseHandle from another thread.
    template <typename Kind>
    std::shared_ptr<Kind> lookup(HANDLE handle) {
        return std::dynamic_pointer_cast<Kind>(find(handle));
    }

    // False when the handle is not open. Tells the object it was closed; the object goes once no
    // call is using it any more.
    bool remove(HANDLE handle);

  private:
    HandleTable() = default;
    ~HandleTable();
    std::shared_ptr<KernelObject> find(HANDLE handle);

    // The process's one table. Built before, and so destroyed after, every static object of
    // the image that holds handles (the library's state among them): they still close their
    // handles when the image is unloaded or the process ends.
    static HandleTable table_;

    std::mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects_;
    // Multiples of 4 like Windows handles, never 0 and never INVALID_HANDLE_VALUE.
    std::uintptr_t next_ = 4;
};

}  // namespace crvmon::platform
