// One named pipe of the host service: a number of message-mode instances, each served by a
// thread of its own that reads one request at a time and writes the handler's reply as one
// message. Written against the kernel32 server calls, so it runs on Windows and on the stand-in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "lib/platform/win32.h"
#include "sim/model/veltara_device_model.h"

namespace crvmon::sim {

class PipeServer {
  public:
    // Called on the instance's thread with each whole request; may run on several threads.
    using Handler = std::function<VeltaraReply(std::span<const std::uint8_t> request)>;

    struct Options {
        std::wstring name;  // "\\.\pipe\..."
        std::uint32_t instances = 1;
        // The server ends a connection after this many requests on it; 0 never.
        std::uint32_t requestsPerConnection = 0;
        // Longer requests end their connection.
        std::size_t maxRequest = 4;
    };

    // Creates every instance before it returns, so that clients can connect at once. Throws
    // std::runtime_error naming the pipe and the error when an instance cannot be created
    // (among others when another service already serves the name).
    PipeServer(Options options, Handler handler);
    // Ends every connection and thread, also those blocked in a call or withholding a reply.
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // Takes every free instance with connections of the server's own, so that clients find
    // the pipe busy, until release().
    void hold();
    void release();

    const std::wstring& name() const { return options_.name; }

  private:
    struct Instance;

    void stop();
    void serve(Instance& instance);
    void serveConnection(Instance& instance);
    bool stopping() const;
    // Waits until the server stops, or at most `pause` when it is not zero.
    void waitForStop(std::chrono::milliseconds pause);

    const Options options_;
    const Handler handler_;
    std::vector<std::unique_ptr<Instance>> instances_;

    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<HANDLE> held_;
};

}  // namespace crvmon::sim
