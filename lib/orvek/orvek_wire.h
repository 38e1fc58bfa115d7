// What crosses the boundary to the Orvek kernel driver: device-object names, control codes,
// buffer layouts and register addresses. All multi-byte fields are little-endian. The simulated
// driver builds its replies from this file too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "lib/common/little_endian.h"

namespace crvmon::orvek::wire {

// Device objects: card 0 is "\\.\corvanta_pcie", card i > 0 the same followed by i in decimal.
// The simulated driver names its objects with these too.
inline constexpr const char* kDeviceNamespace = "\\\\.\\";
inline constexpr const char* kDeviceObjectBase = "corvanta_pcie";

// The object's name within the namespace ("corvanta_pcie", "corvanta_pcie1", ...).
inline std::string deviceObjectBase(std::int32_t index) {
    std::string name = kDeviceObjectBase;
    if (index != 0) name += std::to_string(index);
    return name;
}

// The name a program opens ("\\.\corvanta_pcie", "\\.\corvanta_pcie1", ...).
inline std::string deviceObjectName(std::int32_t index) {
    return kDeviceNamespace + deviceObjectBase(index);
}

// Control codes: device type 0x22, any access.
constexpr std::uint32_t kIoctlDeviceInfo = 0x00222000;  // function 0x800, METHOD_BUFFERED
constexpr std::uint32_t kIoctlRegister = 0x00222012;    // function 0x804, METHOD_OUT_DIRECT
constexpr std::uint32_t kIoctlUsage = 0x00222042;       // function 0x810, METHOD_OUT_DIRECT

// Identity block, asked for first (128 bytes, the same buffer in and out).
namespace device_info {
constexpr std::size_t kSize = 128;
constexpr std::size_t kVendorId = 0;        // u16
constexpr std::size_t kDeviceId = 2;        // u16
constexpr std::size_t kSubVendorId = 4;     // u16: firmware minor bits 0-9, major bits 10-15
constexpr std::size_t kSubDeviceId = 6;     // u16: board bit fields
constexpr std::size_t kFirmwareBuild = 8;   // u32: bit 31 patch present, bits 16-30 patch
constexpr std::size_t kReserved = 12;       // u32, copied, never read
constexpr std::size_t kPcieGen = 16;        // u8
constexpr std::size_t kPcieLanes = 17;      // u8
constexpr std::size_t kPcieRev = 18;        // u8
constexpr std::size_t kPcieClassCode = 20;  // u32
constexpr std::size_t kDriverVersion = 32;  // 4 x u16: major, minor, patch, revision
constexpr std::size_t kLocationKind = 64;   // u16: bits 14-15 kind, bits 0-2 items minus one
constexpr std::size_t kLocation = 66;       // 7 x u16
constexpr std::size_t kLocationItems = 7;
}  // namespace device_info

// Identity table of drivers that transfer nothing for the 128-byte request (1040 bytes).
namespace legacy_table {
constexpr std::size_t kSize = 1040;
constexpr std::size_t kDriverVersion = 0;  // 4 x u16
constexpr std::size_t kIndex = 8;          // i32: this device's entry
constexpr std::size_t kEntries = 16;       // 64 entries of 16 bytes
constexpr std::size_t kEntryCount = 64;
constexpr std::size_t kEntrySize = 16;
// Within an entry:
constexpr std::size_t kVendorDevice = 0;     // u32: vendor id low half, device id high half
constexpr std::size_t kSubVendorDevice = 4;  // u32: subsystem vendor id low, subsystem id high
constexpr std::size_t kPcieGen = 12;         // u8
constexpr std::size_t kPcieLanes = 13;       // u8
constexpr std::size_t kPcieRev = 14;         // u8
}  // namespace legacy_table

// One device register (12-byte request; a read transfers the value as one u32).
namespace register_request {
constexpr std::size_t kSize = 12;
constexpr std::size_t kOperation = 0;  // u32
constexpr std::size_t kAddress = 4;    // u32
constexpr std::size_t kValue = 8;      // u32, 0 for a read
constexpr std::uint32_t kRead = 2;
constexpr std::uint32_t kWrite = 3;
}  // namespace register_request

// Per-core activity and memory in use (10352 bytes; exactly 88 means no activity data).
namespace usage_reply {
constexpr std::size_t kSize = 10352;
constexpr std::size_t kNoDataSize = 88;
constexpr std::size_t kTimestamp = 0;    // u64, the driver's time unit
constexpr std::size_t kMemoryUsed = 24;  // u64 bytes
constexpr std::size_t kRings = 32;       // 10 rings of 1032 bytes, in core order
constexpr std::size_t kRingCount = 10;
constexpr std::size_t kRingSize = 1032;
// Within a ring:
constexpr std::size_t kHead = 2;       // u8, 0-63
constexpr std::size_t kCount = 3;      // u8
constexpr std::size_t kIntervals = 8;  // 64 x {u64 start, u64 end}
constexpr std::size_t kIntervalCount = 64;
constexpr std::size_t kIntervalSize = 16;
}  // namespace usage_reply

// Board registers.
namespace registers {
constexpr std::uint32_t kNpuClock = 0x0FC12060;
constexpr std::uint32_t kBusClock = 0x0FC12064;
constexpr std::uint32_t kPmicSelectLegacy = 0x0FC12068;  // selector in bits 28-29 (< 1.2.4)
constexpr std::uint32_t kPmicSelect = 0x0FC12050;        // selector in bits 0-1 (>= 1.2.4)
constexpr std::uint32_t kThermalStatus = 0x0FC12058;
constexpr std::uint32_t kBoardStatus = 0x0FC1205C;
constexpr std::uint32_t kUnused0 = 0x0FC12070;
constexpr std::uint32_t kUnused1 = 0x0FC12078;
constexpr std::uint32_t kUnused2 = 0x0FC12074;
constexpr std::uint32_t kAuxStatus = 0x0FC12034;
constexpr std::uint32_t kExtraPmicFirst = 0x0FC12040;
constexpr std::uint32_t kExtraPmicSecond = 0x0FC12044;
constexpr std::uint32_t kBoardPmicFirst = 0x0FC12048;
constexpr std::uint32_t kBoardPmicSecond = 0x0FC1204C;
}  // namespace registers

// Firmware from this version code on keeps the extra-PMIC selector in kPmicSelect.
constexpr std::uint32_t kPmicSelectFirmware = 0x01020004;

using crvmon::load16;
using crvmon::load32;
using crvmon::load64;
using crvmon::store16;
using crvmon::store32;
using crvmon::store64;

}  // namespace crvmon::orvek::wire
