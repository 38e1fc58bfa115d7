// The Veltara host service as the simulator plays it: the broker pipe "\\.\pipe\veltara" that
// lists the devices, and per device the pipe "\\.\pipe\veltara_<name>" answering its commands
// from the device's model and the section "Global\VeltaraSharedMem_<name>".
//
// Faults that concern pipes rather than replies live here: the service absent for a while, all
// instances busy for a while, connections ended after a number of requests. Time-driven faults
// follow the sim clock, which a watcher thread looks at every few milliseconds while any is
// pending, so a test advances a manual clock and then waits for the change with
// WaitNamedPipeW or a bounded retry.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lib/platform/win32.h"
#include "sim/model/sim_clock.h"
#include "sim/model/veltara_device_config.h"
#include "sim/model/veltara_device_model.h"
#include "sim/reply_filters.h"

namespace crvmon::sim {

class PipeServer;

class VeltaraHostService {
  public:
    // Bytes of each device's section; the library maps it but reads nothing from it.
    static constexpr DWORD kSectionSize = 4096;

    // Serves at once, or once the clock has passed the absent time. Throws
    // std::invalid_argument for a config the models refuse and std::runtime_error when a pipe
    // cannot be created (another service already running under the same names, say). The
    // clock must outlive the service. A filter sees every reply before it is sent.
    VeltaraHostService(const std::vector<VeltaraDeviceConfig>& devices,
                       const VeltaraServiceConfig& service, const SimClock& clock,
                       VeltaraReplyFilter filter = {});
    // Stops every thread promptly, also with clients connected or replies withheld.
    ~VeltaraHostService();
    VeltaraHostService(const VeltaraHostService&) = delete;
    VeltaraHostService& operator=(const VeltaraHostService&) = delete;

    // True once the pipes and sections exist.
    bool serving() const { return serving_.load(); }

  private:
    struct Hold {
        PipeServer* server;
        std::uint64_t busyMs;
    };

    using Answer = std::function<VeltaraReply(std::span<const std::uint8_t> request)>;
    // The answer, passed through the filter when there is one.
    Answer filtered(std::wstring_view pipe, Answer answer) const;
    void bringUp();
    void watchClock();
    std::uint64_t elapsedMs() const;

    const VeltaraServiceConfig service_;
    const SimClock& clock_;
    const std::uint64_t start_;  // clock microseconds at construction
    const std::vector<std::uint8_t> deviceList_;
    const VeltaraReplyFilter filter_;
    std::vector<std::unique_ptr<VeltaraDeviceModel>> models_;

    // Written by bringUp only, before serving_ is set; torn down after the watcher has ended.
    std::unique_ptr<PipeServer> broker_;
    std::vector<std::unique_ptr<PipeServer>> devicePipes_;
    std::vector<HANDLE> sections_;
    std::vector<Hold> holds_;  // instances the service holds until their time is up
    std::uint64_t upMs_ = 0;   // elapsedMs() when the service came up
    std::atomic<bool> serving_{false};

    std::mutex mutex_;
    std::condition_variable stopRequested_;
    bool stopping_ = false;
    std::thread watcher_;
};

}  // namespace crvmon::sim
