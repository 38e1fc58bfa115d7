// The monitor that serves one Orvek card for as long as it stays registered: it owns the
// driver channel and caches the card's identity and latest telemetry.
#pragma once

#include <cstdint>
#include <optional>

#include "crvmon.h"
#include "lib/monitor/monitor_records.h"

namespace crvmon {

class OrvekMonitor {
  public:
    explicit OrvekMonitor(std::int32_t deviceIndex) : deviceIndex_(deviceIndex) {}
    virtual ~OrvekMonitor() = default;
    OrvekMonitor(const OrvekMonitor&) = delete;
    OrvekMonitor& operator=(const OrvekMonitor&) = delete;

    // Closes any channel, opens the card with this index and reads its identity.
    virtual bool open(std::int32_t index) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Re-opens only when the index differs from the current one.
    virtual void select(std::int32_t index) = 0;
    // Null when closed; otherwise the monitor's own record, refreshed from the card.
    virtual MonitorInfo* getInfo() = 0;
    // False, with nothing written, when the selector's register could not be read: a word
    // made from a failed read would clear the register's other bits.
    virtual bool setExtraPmicId(crvmonExtraPmicId_t id) = 0;
    // Empty when the selector's register could not be read.
    virtual std::optional<crvmonExtraPmicId_t> getExtraPmicId() = 0;
    // Null when the card gave no usage data.
    virtual MonitorUsage* getUsage() { return nullptr; }

    // Counts the cards from index 0 up to the first that does not open; leaves the monitor
    // closed.
    int scanDevices();

    // Firmware version of the open card: major << 24 | minor << 16 | patch.
    std::uint32_t versionCode() const { return versionCode_; }
    std::int32_t deviceIndex() const { return deviceIndex_; }

  protected:
    std::uint32_t versionCode_ = 0;
    std::int32_t deviceIndex_;
};

}  // namespace crvmon
