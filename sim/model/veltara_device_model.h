// One simulated Veltara device as the host service shows it: the answer to every request that
// reaches the device's pipe, with the scenario's faults applied.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/model/sim_clock.h"
#include "sim/model/veltara_activity_log.h"
#include "sim/model/veltara_device_config.h"

namespace crvmon::sim {

struct VeltaraReply {
    enum class Kind {
        Send,       // write `bytes` as one message
        None,       // the protocol has no reply for this command
        Withhold,   // fault: never answer; the connection waits until the service stops
        Malformed,  // not a request of the protocol: the service drops the connection
    };
    Kind kind = Kind::None;
    std::vector<std::uint8_t> bytes;
};

class VeltaraDeviceModel {
  public:
    // Status word of a request the device refuses (a clock setting without its 4 bytes).
    static constexpr std::uint32_t kStatusInvalid = 22;

    // Throws std::invalid_argument when the config breaks a rule of validateVeltaraDeviceConfig.
    // The service starts now: work streams count from the clock's present time. The clock
    // must outlive the model.
    VeltaraDeviceModel(VeltaraDeviceConfig config, const SimClock& clock);

    // Answers one request: the 4-byte code, then exactly the payload size the code states.
    // The snapshot the capture command takes belongs to the device, not to a connection: the
    // library sends capture, reads and release over whichever instances its pool hands out.
    // Safe to call from several threads.
    VeltaraReply answer(std::span<const std::uint8_t> request);

    const VeltaraDeviceConfig& config() const { return config_; }

    // The records as the device holds them now, before any reply-length fault.
    std::vector<std::uint8_t> driverInfo() const;
    std::vector<std::uint8_t> hostInfo() const;
    std::vector<std::uint8_t> monitorInfo() const;
    std::int32_t npuClockMHz() const;

  private:
    std::vector<std::uint8_t> answerDevice(std::uint32_t number, std::uint32_t size,
                                           std::span<const std::uint8_t> payload);
    std::vector<std::uint8_t> status(std::uint32_t command, std::uint32_t success) const;
    std::vector<std::uint8_t> nextSnapshotRow(std::uint32_t size);

    const VeltaraDeviceConfig config_;
    const SimClock& clock_;
    const std::uint64_t origin_;

    mutable std::mutex mutex_;  // guards the members below
    std::int32_t npuClockMHz_;
    std::optional<std::size_t> snapshotCursor_;  // next row; nullopt: no snapshot taken
};

}  // namespace crvmon::sim
