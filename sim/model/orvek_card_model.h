// One simulated Orvek card as its kernel driver shows it: the identity block, the fourteen board
// registers and the per-core activity rings, answering the driver's three control requests.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "sim/model/orvek_card_config.h"
#include "sim/model/sim_clock.h"
#include "sim/orvek/driver/orvek_sim_card.h"

namespace crvmon::sim {

struct ModelReply {
    // The bytes the request transfers; their count is the transferred byte count.
    std::vector<std::uint8_t> output;
    // The card failed the request: the driver completes it with an error.
    bool failed = false;
};

class OrvekCardModel {
  public:
    // Other bits of the two selector control words at start; a write must keep them.
    static constexpr std::uint32_t kPmicSelectLegacyBase = 0x00000C00;
    static constexpr std::uint32_t kPmicSelectBase = 0x80000000;

    // Throws std::invalid_argument when the config breaks a rule of validateCardConfig. The clock
    // must outlive the model.
    OrvekCardModel(OrvekCardConfig config, const SimClock& clock);

    // Answers one control request. Never transfers more than outputCapacity bytes; unknown
    // codes, malformed inputs, unknown registers and too small output buffers transfer nothing.
    // Safe to call from several threads.
    ModelReply answer(std::uint32_t code, std::span<const std::uint8_t> input,
                      std::uint32_t outputCapacity);

    const OrvekCardConfig& config() const { return config_; }
    int deviceIndex() const { return config_.deviceIndex; }

    // The identity bytes in the card's form, whole (128-byte block or 1040-byte table).
    std::vector<std::uint8_t> identityBytes() const;
    // The register file as it stands; 0 for an address the card does not have.
    std::uint32_t registerValue(std::uint32_t address) const;
    // The extra power monitor the selector names now (0-3).
    std::uint32_t selectedExtraPmic() const;
    // The whole usage reply at the clock's current time (10352 bytes).
    std::vector<std::uint8_t> usageReply() const;

    // What the kernel-mode driver is given about this card, as it stands at start.
    const orvek_sim_card_image& driverImage() const { return image_; }

  private:
    // Firmware from 1.2.4 on keeps the selector in bits 0-1 of another control word.
    bool selectorInNewRegister() const;
    orvek_sim_card_image buildImage() const;

    const OrvekCardConfig config_;
    const SimClock& clock_;
    orvek_sim_card_image image_{};
    mutable std::mutex mutex_;  // guards card_
    orvek_sim_card card_{};
};

}  // namespace crvmon::sim
