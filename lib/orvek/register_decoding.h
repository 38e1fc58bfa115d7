// Which board registers carry which telemetry, and how their words become the monitor's record.
#pragma once

#include <array>
#include <cstdint>

#include "lib/monitor/monitor_records.h"

namespace crvmon::orvek {

// The registers a refresh reads, in the order it reads them.
inline constexpr std::array<std::uint32_t, 11> kRefreshRegisters = {
    0x0FC12060, 0x0FC12064, 0x0FC12068, 0x0FC12050, 0x0FC12058, 0x0FC1205C,
    0x0FC12048, 0x0FC1204C, 0x0FC12040, 0x0FC12044, 0x0FC12034,
};

// Stores the words read from kRefreshRegisters (same order) into the record's register fields.
void decodeRegisters(const std::array<std::uint32_t, 11>& words, MonitorInfo& info);

// Where the extra-PMIC selector lives for a firmware version code.
bool usesLegacySelector(std::uint32_t versionCode);
std::uint32_t selectorRegister(std::uint32_t versionCode);
// The selector held in that register's word.
std::uint32_t selectorFromWord(std::uint32_t versionCode, std::uint32_t word);
// The word to write back to select `id` (its low two bits), from the word read.
std::uint32_t wordWithSelector(std::uint32_t versionCode, std::uint32_t word, std::uint32_t id);

}  // namespace crvmon::orvek
