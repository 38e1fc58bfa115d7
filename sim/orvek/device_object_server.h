// The serving side of a device object "\\.\NAME": what a driver is to the Windows build. Clients
// reach it with CreateFileA and DeviceIoControl, from this process or another one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace crvmon::sim {

struct DeviceIoRequest {
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::uint32_t outputCapacity;  // the caller's output buffer size
};

struct DeviceIoReply {
    // On success the caller receives these bytes and their count (zero included). Bytes beyond
    // the request's outputCapacity are dropped, as a driver cannot write past the buffer.
    std::vector<std::uint8_t> output;
    // 0: success. Otherwise the request fails at once with this Windows error code and the
    // output is discarded. ERROR_IO_PENDING is not a failure code: requests complete at once.
    std::uint32_t error = 0;
};

// Called on one of the server's own threads, one per connection: calls for different
// connections may run at the same time, so the handler must be safe to run concurrently.
// Requests on one connection arrive one at a time, in order. A handler that throws fails the
// request with ERROR_GEN_FAILURE.
using DeviceIoHandler = std::function<DeviceIoReply(const DeviceIoRequest&)>;

class DeviceObjectServer {
  public:
    // Serves "\\.\NAME" (name given without the "\\.\" prefix; case does not matter) at
    // <object root>/device/<name>, creating missing directories and replacing a socket file
    // that no server is behind. Throws std::system_error when the name is already served, the
    // path does not fit a socket address, or the socket cannot be set up; std::invalid_argument
    // for an empty name or one with a path separator.
    DeviceObjectServer(const std::string& name, DeviceIoHandler handler);
    // Removes the object (opening it fails with ERROR_FILE_NOT_FOUND from then on), closes every
    // connection (their clients' requests fail with ERROR_BROKEN_PIPE) and ends every thread it
    // started. Returns as soon as the handler calls already running have returned.
    ~DeviceObjectServer();
    DeviceObjectServer(const DeviceObjectServer&) = delete;
    DeviceObjectServer& operator=(const DeviceObjectServer&) = delete;

    // The socket path that stands for the object.
    const std::string& path() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace crvmon::sim
