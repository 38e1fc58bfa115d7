// Which board registers carry which telemetry, and how their words become the monitor's record.
#pragma once

#include <array>
#include <cstdint>

#include "lib/monitor/monitor_records.h"
#include "lib/orvek/orvek_wire.h"

namespace crvmon::orvek {

// The registers a refresh reads, in the order it reads them: the board's power monitor before
// the extra one.
inline constexpr std::array<std::uint32_t, 11> kRefreshRegisters = {
    wire::registers::kNpuClock,         wire::registers::kBusClock,
    wire::registers::kPmicSelectLegacy, wire::registers::kPmicSelect,
    wire::registers::kThermalStatus,    wire::registers::kBoardStatus,
    wire::registers::kBoardPmicFirst,   wire::registers::kBoardPmicSecond,
    wire::registers::kExtraPmicFirst,   wire::registers::kExtraPmicSecond,
    wire::registers::kAuxStatus,
};

// Stores the words read from kRefreshRegisters (same order) into the record's register fields.
void decodeRegisters(const std::array<std::uint32_t, 11>& words, MonitorInfo& info);

// The record's unread flags (MonitorInfo::Unread) for the registers of kRefreshRegisters (same
// order) whose reads failed.
std::uint32_t unreadFlags(const std::array<bool, 11>& failed);

// Where the extra-PMIC selector lives for a firmware version code.
bool usesLegacySelector(std::uint32_t versionCode);
std::uint32_t selectorRegister(std::uint32_t versionCode);
// The selector held in that register's word.
std::uint32_t selectorFromWord(std::uint32_t versionCode, std::uint32_t word);
// The word to write back to select `id` (its low two bits), from the word read.
std::uint32_t wordWithSelector(std::uint32_t versionCode, std::uint32_t word, std::uint32_t id);

}  // namespace crvmon::orvek
