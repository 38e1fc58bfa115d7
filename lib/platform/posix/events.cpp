#include "lib/platform/posix/events.h"

#include <chrono>
#include <cstdint>
#include <new>

namespace crvmon::platform {

EventObject::EventObject(bool manualReset, bool initialState)
    : manualReset_(manualReset), signalled_(initialState) {}

void EventObject::set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void EventObject::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool EventObject::wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    auto signalled = [this] { return signalled_; };
    if (milliseconds == INFINITE) {
        changed_.wait(lock, signalled);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled)) {
        return false;
    }
    if (!manualReset_) signalled_ = false;
    return true;
}

std::shared_ptr<EventObject> overlappedEvent(HANDLE hEvent) {
    auto value = reinterpret_cast<std::uintptr_t>(hEvent) & ~std::uintptr_t{1};
    return HandleTable::instance().lookup<EventObject>(reinterpret_cast<HANDLE>(value));
}

}  // namespace crvmon::platform

using crvmon::platform::EventObject;
using crvmon::platform::HandleTable;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (name != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HANDLE handle = nullptr;
    try {
        handle = HandleTable::instance().insert(
            std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
    } catch (const std::bad_alloc&) {
    }
    if (handle == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

BOOL SetEvent(HANDLE event) {
    auto object = HandleTable::instance().lookup<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = HandleTable::instance().lookup<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    auto event = HandleTable::instance().lookup<EventObject>(object);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return event->wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
