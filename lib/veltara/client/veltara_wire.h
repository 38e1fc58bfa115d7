// What crosses the named pipes to the Veltara host service: pipe and section names, the device
// list, command codes and the records of their replies. All multi-byte fields are
// little-endian. The simulated host service builds its replies from this file too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/common/little_endian.h"

namespace crvmon::veltara::wire {

// The broker pipe lists the devices; each device has a pipe and a shared-memory section whose
// names end in the device's name (each byte of it one UTF-16 code unit in the pipe name).
inline constexpr const wchar_t* kBrokerPipeName = L"\\\\.\\pipe\\veltara";
inline constexpr const wchar_t* kDevicePipePrefix = L"\\\\.\\pipe\\veltara_";
inline constexpr const char* kSharedMemoryPrefix = "Global\\VeltaraSharedMem_";

// The name of a device's pipe: the prefix, then each byte of the name as one code unit.
inline std::wstring devicePipeName(std::string_view deviceName) {
    std::wstring name = kDevicePipePrefix;
    for (unsigned char byte : deviceName) name += static_cast<wchar_t>(byte);
    return name;
}

// The name of a device's shared-memory section.
inline std::string sectionName(std::string_view deviceName) {
    return kSharedMemoryPrefix + std::string(deviceName);
}

// Device list: the request is the u32 value 1; the reply a u32 count, then the entries.
namespace device_list {
constexpr std::uint32_t kRequest = 1;
constexpr std::size_t kCount = 0;
constexpr std::size_t kEntries = 4;
constexpr std::size_t kEntrySize = 68;
constexpr std::size_t kEntryDevNo = 0;  // i32
constexpr std::size_t kEntryName = 4;   // 64 bytes, NUL-terminated
constexpr std::size_t kNameSize = 64;
constexpr std::size_t kMaxEntries = 64;
constexpr std::size_t kReplyCapacity = kEntries + kMaxEntries * kEntrySize;  // 4356
}  // namespace device_list

// Command codes: number bits 0-7, type bits 8-15, payload size bits 16-29, direction 30-31.
// A request is the code followed by exactly `size` payload bytes.
constexpr std::uint32_t commandNumber(std::uint32_t code) {
    return code & 0xFFu;
}
constexpr std::uint32_t commandType(std::uint32_t code) {
    return (code >> 8) & 0xFFu;
}
constexpr std::uint32_t commandSize(std::uint32_t code) {
    return (code >> 16) & 0x3FFFu;
}
constexpr std::uint32_t commandDirection(std::uint32_t code) {
    return code >> 30;
}

constexpr std::uint32_t kDeviceType = 'R';
constexpr std::uint32_t kHostType = 'H';

// Device command numbers.
namespace command {
constexpr std::uint32_t kReset = 0;
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kAllocCma = 2;
constexpr std::uint32_t kFreeCma = 3;
constexpr std::uint32_t kWriteCma = 4;
constexpr std::uint32_t kReadCma = 5;
constexpr std::uint32_t kWriteMem = 6;
constexpr std::uint32_t kPostInfer = 7;
constexpr std::uint32_t kWaitDone = 8;
constexpr std::uint32_t kGetSignalType = 9;
constexpr std::uint32_t kGetTemperature = 10;
constexpr std::uint32_t kGetClockNpu = 11;
constexpr std::uint32_t kLockCore = 12;
constexpr std::uint32_t kUnlockCore = 13;
constexpr std::uint32_t kGetMonitorInfo = 14;
constexpr std::uint32_t kSetClockNpu = 15;
constexpr std::uint32_t kOpenDevFile = 16;
constexpr std::uint32_t kReleaseDevFile = 17;
constexpr std::uint32_t kCacheReq = 18;
constexpr std::uint32_t kDriverInfo = 19;
constexpr std::uint32_t kCaptureSnapshot = 20;
constexpr std::uint32_t kReleaseSnapshot = 21;
constexpr std::uint32_t kReadSnapshot = 22;
constexpr std::uint32_t kCount = 23;
}  // namespace command

// The device commands' names, by number.
inline constexpr std::array<const char*, command::kCount> kCommandNames = {
    "IOC_RESET",
    "IOC_VERSION",
    "IOC_ALLOC_CMA",
    "IOC_FREE_CMA",
    "IOC_WRITE_CMA",
    "IOC_READ_CMA",
    "IOC_WRITE_MEM",
    "IOC_POST_INFER",
    "IOC_WAIT_DONE",
    "IOC_GET_SIGNAL_TYPE",
    "IOC_GET_TEMPERATURE",
    "IOC_GET_CLOCK_NPU",
    "IOC_LOCK_CORE",
    "IOC_UNLOCK_CORE",
    "IOC_GET_MONITOR_INFO",
    "IOC_SET_CLOCK_NPU",
    "IOC_OPEN_DEV_FILE",
    "IOC_RELEASE_DEV_FILE",
    "IOC_CACHE_REQ",
    "IOC_DRIVER_INFO",
    "IOC_CAPTURE_SNAPSHOT",
    "IOC_RELEASE_SNAPSHOT",
    "IOC_READ_SNAPSHOT",
};
// The one host command's name.
inline constexpr const char* kHostInfoName = "IOC_HOST_INFO";

// The codes the library sends.
namespace code {
constexpr std::uint32_t kDriverInfo = 0x80605213;
constexpr std::uint32_t kGetSignalType = 0x00005209;
constexpr std::uint32_t kGetTemperatureWithRecord = 0xC01C520A;
constexpr std::uint32_t kGetTemperature = 0x0000520A;
constexpr std::uint32_t kGetClockNpu = 0x4004520B;
constexpr std::uint32_t kGetMonitorInfo = 0xCA10520E;
constexpr std::uint32_t kCaptureSnapshot = 0x00005214;
constexpr std::uint32_t kReadSnapshot = 0x80215216;
constexpr std::uint32_t kReleaseSnapshot = 0x00005215;
constexpr std::uint32_t kHostInfo = 0x80244800;
}  // namespace code

// Status word of the status replies.
constexpr std::uint32_t kStatusSuccess = 0xBEEF;

// Fixed reply sizes.
constexpr std::size_t kStatusSize = 4;
constexpr std::size_t kValueSize = 4;
constexpr std::size_t kVersionReplySize = 8;
constexpr std::size_t kMonitorInfoSize = 2576;
constexpr std::size_t kDriverInfoSize = 96;
constexpr std::size_t kHostInfoReplyMax = 96;

// Reply of IOC_GET_MONITOR_INFO: a ring of 128 activity slots, its head, pages in use, now.
namespace monitor_info {
constexpr std::size_t kSlots = 0;
constexpr std::size_t kSlotCount = 128;
constexpr std::size_t kSlotSize = 20;
constexpr std::size_t kSlotStart = 0;      // i64, 0 in a slot never written
constexpr std::size_t kSlotEnd = 8;        // i64, below start while the work still runs
constexpr std::size_t kSlotPid = 16;       // i32
constexpr std::size_t kHead = 2560;        // i32
constexpr std::size_t kPagesInUse = 2564;  // u32, 4096-byte pages
constexpr std::size_t kNow = 2568;         // i64
}  // namespace monitor_info

// Payload of the temperature command that carries a record: the service writes the
// temperature into it, in thousandths of a degree Celsius.
namespace temperature_record {
constexpr std::size_t kSize = 28;
constexpr std::size_t kMilliDegrees = 4;  // i32
}  // namespace temperature_record
static_assert(commandSize(code::kGetTemperatureWithRecord) == temperature_record::kSize);

// Reply of IOC_READ_SNAPSHOT: one process, or the end of the snapshot.
namespace process_record {
constexpr std::size_t kSize = 33;
constexpr std::size_t kFlags = 0;   // u8, bit 0: end of snapshot
constexpr std::size_t kPid = 1;     // i32
constexpr std::size_t kCount = 5;   // u32
constexpr std::size_t kAmount = 9;  // u64
constexpr std::uint8_t kEndFlag = 1;
}  // namespace process_record

// Reply of IOC_DRIVER_INFO.
namespace driver_info {
constexpr std::size_t kVersion = 0;  // 4 x u16: major, minor, patch, revision
constexpr std::size_t kFlags = 24;   // u32: bit 0 and bits 1-4
constexpr std::size_t kPages = 32;   // u32, 4096-byte pages of device memory
}  // namespace driver_info

// Reply of IOC_HOST_INFO.
namespace host_info {
constexpr std::size_t kSize = 36;
constexpr std::size_t kVersion = 0;    // 4 x u16
constexpr std::size_t kRevision = 32;  // u16
}  // namespace host_info

constexpr std::size_t kPageSize = 4096;

}  // namespace crvmon::veltara::wire
