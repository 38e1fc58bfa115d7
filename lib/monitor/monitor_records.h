// What an Orvek monitor hands out: the identity and latest telemetry of its card, and the
// per-core busy fractions with the memory in use.
#pragma once

#include <array>
#include <cstdint>

namespace crvmon {

struct MonitorInfo {
    // Identity: the driver's first four identity words, copied as a block.
    std::uint16_t vendorId = 0;
    std::uint16_t deviceId = 0;
    std::uint16_t subVendorId = 0;    // bits 10-15 firmware major, bits 0-9 firmware minor
    std::uint16_t subDeviceId = 0;    // bits 0-2 memory code, 8-11 firmware revision, ...
    std::uint32_t firmwareBuild = 0;  // bit 31 patch present, bits 16-30 patch
    std::uint32_t reserved = 0;
    std::uint8_t pcieGen = 0;
    std::uint8_t pcieLanes = 0;
    std::uint8_t pcieRev = 0;
    std::uint32_t pcieClassCode = 0;
    std::array<std::uint16_t, 4> driverVersion{};  // major, minor, patch, revision

    // Registers, re-read by every refresh.
    std::uint32_t pmicSelectLegacy = 0;  // bits 28-29: extra-PMIC selector before 1.2.4
    std::uint32_t pmicSelect = 0;        // bits 0-1: extra-PMIC selector from 1.2.4
    std::uint32_t thermalStatus = 0;     // bits 24-31: chip temperature
    std::uint32_t boardStatus = 0;       // bits 0-6 fan duty, 10-11 chip id, 24-31 switch temp
    std::uint32_t npuClock = 0;          // MHz
    std::uint32_t busClock = 0;          // MHz
    float totalCurrent = 0;              // A
    float totalPower = 0;                // W
    float totalVoltage = 0;              // V
    float extraPmicCurrent = 0;
    float extraPmicPower = 0;
    float extraPmicVoltage = 0;
    std::uint32_t auxStatus = 0;
    // Values whose registers the last refresh could not read (the request transferred less
    // than a word): their fields hold zeros that no card sent. A bit of MonitorInfo::Unread each.
    std::uint32_t unread = 0;
    enum Unread : std::uint32_t {
        kUnreadNpuClock = 1u << 0,
        kUnreadBusClock = 1u << 1,
        kUnreadThermal = 1u << 2,      // chip temperature
        kUnreadBoardStatus = 1u << 3,  // fan duty, chip id, switch temperature
        kUnreadBoardPower = 1u << 4,
        kUnreadExtraPower = 1u << 5,
    };

    // Location, only from drivers that answer the 128-byte identity request.
    std::uint16_t locationKind = 0;  // bits 14-15: 1 slot chain, 2 PCI address; 0-2: items - 1
    std::array<std::uint16_t, 7> location{};

    // The fields of the status words. The temperatures are unsigned: 200 reads 200.
    int chipTemperature() const { return static_cast<int>(thermalStatus >> 24); }
    int fanDuty() const { return static_cast<int>(boardStatus & 0x7Fu); }
    int chipId() const { return static_cast<int>((boardStatus >> 10) & 3u); }
    int switchTemperature() const { return static_cast<int>(boardStatus >> 24); }
};

struct MonitorUsage {
    // Busy fraction of cluster c entry e at 5*c + e; entry 4 is the whole cluster.
    std::array<double, 10> busy{};
    // False when the rings gave fractions that cannot be right: then `busy` holds nothing.
    bool busyKnown = true;
    std::uint64_t memoryUsed = 0;  // bytes
};

}  // namespace crvmon
