#include "lib/orvek/register_decoding.h"

#include "lib/orvek/orvek_wire.h"
#include "lib/orvek/power_monitor.h"

namespace crvmon::orvek {

namespace {
constexpr std::uint32_t kHzPerMHz = 1000000;
}

void decodeRegisters(const std::array<std::uint32_t, 11>& w, MonitorInfo& info) {
    info.npuClock = w[0] / kHzPerMHz;
    info.busClock = w[1] / kHzPerMHz;
    info.pmicSelectLegacy = w[2];
    info.pmicSelect = w[3];
    info.thermalStatus = w[4];
    info.boardStatus = w[5];
    const PowerReading board = decodePowerMonitor(w[6], w[7]);
    info.totalCurrent = board.current;
    info.totalPower = board.power;
    info.totalVoltage = board.voltage;
    const PowerReading extra = decodePowerMonitor(w[8], w[9]);
    info.extraPmicCurrent = extra.current;
    info.extraPmicPower = extra.power;
    info.extraPmicVoltage = extra.voltage;
    info.auxStatus = w[10];
}

std::uint32_t unreadFlags(const std::array<bool, 11>& failed) {
    // Per register, the values drawn from it. The selectors are read for the record only (the
    // extra-PMIC id is read afresh when asked for), and no value comes from the aux status.
    constexpr std::array<std::uint32_t, 11> kValuesOf = {
        MonitorInfo::kUnreadNpuClock,
        MonitorInfo::kUnreadBusClock,
        0,
        0,
        MonitorInfo::kUnreadThermal,
        MonitorInfo::kUnreadBoardStatus,
        MonitorInfo::kUnreadBoardPower,
        MonitorInfo::kUnreadBoardPower,
        MonitorInfo::kUnreadExtraPower,
        MonitorInfo::kUnreadExtraPower,
        0,
    };
    std::uint32_t flags = 0;
    for (std::size_t i = 0; i < failed.size(); ++i) {
        if (failed[i]) flags |= kValuesOf[i];
    }
    return flags;
}

bool usesLegacySelector(std::uint32_t versionCode) {
    return versionCode < wire::kPmicSelectFirmware;
}

std::uint32_t selectorRegister(std::uint32_t versionCode) {
    return usesLegacySelector(versionCode) ? wire::registers::kPmicSelectLegacy
                                           : wire::registers::kPmicSelect;
}

std::uint32_t selectorFromWord(std::uint32_t versionCode, std::uint32_t word) {
    return usesLegacySelector(versionCode) ? (word >> 28) & 3u : word & 3u;
}

std::uint32_t wordWithSelector(std::uint32_t versionCode, std::uint32_t word, std::uint32_t id) {
    if (usesLegacySelector(versionCode)) return (word & ~(3u << 28)) | ((id & 3u) << 28);
    // Bit 31 of the newer control word is written as 0.
    return (word & 0x7FFFFFFCu) | (id & 3u);
}

}  // namespace crvmon::orvek
