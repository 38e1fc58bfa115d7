// Event objects: manual-reset ones stay signalled until reset, auto-reset ones release one
// waiter and reset themselves.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "lib/platform/posix/handle_table.h"

namespace crvmon::platform {

class EventObject : public KernelObject {
  public:
    EventObject(bool manualReset, bool initialState);

    void set();
    void reset();
    // True when signalled within the time (INFINITE: no limit).
    bool wait(DWORD milliseconds);

  private:
    const bool manualReset_;
    bool signalled_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

// The event an OVERLAPPED record names. Windows lets callers tag the low bit of hEvent (to keep
// the completion off a completion port); the event is the same.
std::shared_ptr<EventObject> overlappedEvent(HANDLE hEvent);

}  // namespace crvmon::platform
