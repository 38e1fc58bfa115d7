// The Orvek monitor that talks to the kernel driver through its device objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "lib/monitor/orvek_monitor.h"
#include "lib/platform/win32.h"

namespace crvmon {

class OrvekMonitor_win final : public OrvekMonitor {
  public:
    // Scans the cards from index 0, then opens this index if the scan found any.
    explicit OrvekMonitor_win(std::int32_t deviceIndex);
    ~OrvekMonitor_win() override;

    bool open(std::int32_t index) override;
    void close() override;
    bool isOpen() const override { return driver_ != nullptr; }
    void select(std::int32_t index) override;
    MonitorInfo* getInfo() override;
    bool setExtraPmicId(crvmonExtraPmicId_t id) override;
    std::optional<crvmonExtraPmicId_t> getExtraPmicId() override;
    MonitorUsage* getUsage() override;

    // "\\.\corvanta_pcie" for index 0, the same followed by the index otherwise.
    static std::string deviceObjectName(std::int32_t index);

  private:
    // Empty when the request transferred less than the word.
    std::optional<std::uint32_t> readRegister(std::uint32_t address);
    // False when the driver failed the request.
    bool writeRegister(std::uint32_t address, std::uint32_t value);
    // One overlapped request: the bytes the driver transferred, or empty when it failed.
    std::optional<DWORD> request(DWORD code, void* input, DWORD inputSize, void* output,
                                 DWORD outputSize, HANDLE event);

    HANDLE driver_ = nullptr;
    MonitorInfo info_;
    MonitorUsage usage_;
};

}  // namespace crvmon
