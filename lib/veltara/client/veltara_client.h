// The library's open connection to one Veltara device through the host service: a pool of
// connected instances of the device's pipe, shared by every thread, and the device's mapped
// shared-memory section.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "lib/platform/win32.h"

namespace crvmon {

class VeltaraClient {
  public:
    // Opens up to `pipeCount` instances of the device's pipe (in message read mode) and maps
    // its section; keeps what it could open.
    VeltaraClient(const std::string& name, int pipeCount);
    // Closes every idle instance and unmaps the view. No lease may be outstanding.
    ~VeltaraClient();
    VeltaraClient(const VeltaraClient&) = delete;
    VeltaraClient& operator=(const VeltaraClient&) = delete;

    const std::string& name() const { return name_; }
    const std::wstring& pipeName() const { return pipeName_; }
    const std::string& sharedMemName() const { return sharedMemName_; }
    std::size_t idlePipeCount();
    void* view() const { return view_; }

  private:
    friend class PipeLease;

    std::string name_;
    std::wstring pipeName_;
    std::string sharedMemName_;
    std::deque<HANDLE> idlePipes_;  // taken from the front, returned to the back
    std::mutex poolMutex_;          // guards idlePipes_; never held during pipe I/O
    void* view_ = nullptr;
};

// One pipe instance on loan for one command: an idle one of the pool, or a fresh connection
// when the pool is empty. Returned to the pool when the lease ends, unless it is invalid.
class PipeLease {
  public:
    explicit PipeLease(VeltaraClient& client);
    ~PipeLease();
    PipeLease(const PipeLease&) = delete;
    PipeLease& operator=(const PipeLease&) = delete;

    HANDLE handle() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // A broken instance is closed and a new connection takes its place (possibly none).
    void replace();

  private:
    VeltaraClient& client_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

namespace veltara {

// The client of the device with this number in the service's list, or null with the last-error
// code ERROR_FILE_NOT_FOUND (left as it was when memory ran out).
VeltaraClient* veltara_open(std::int32_t devNo);

// Result of veltara_close for a null client.
constexpr std::int32_t kCloseNullClient = -1;

// kCloseNullClient for null; otherwise destroys the client and returns 0.
std::int32_t veltara_close(VeltaraClient* client);

}  // namespace veltara
}  // namespace crvmon
