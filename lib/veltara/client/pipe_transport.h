// One instance of a host-service pipe, and the broker pipe's device list.
#pragma once

#include <cstdint>
#include <string>

#include "lib/platform/win32.h"

namespace crvmon::veltara {

// One record of the device list, as the service sends it and as callers receive it.
#pragma pack(push, 1)
struct veltara_device_entry {
    std::int32_t dev_no;
    char name[64];  // NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(veltara_device_entry) == 68);

// Opens one instance of the pipe: waits while every instance is busy (200 waits of up to 2 s)
// and retries while the pipe does not exist (51 attempts, 10 ms apart); INVALID_HANDLE_VALUE
// when it gives up. The read mode is left as the pipe opens.
HANDLE connect_pipe(const std::wstring& name);

// Switches a handle to message read mode; the outcome is not checked.
void setMessageReadMode(HANDLE pipe);

// Failures of veltara_list_devices.
namespace list_failure {
constexpr std::int32_t kNoBrokerPipe = -1;
constexpr std::int32_t kRequestNotWritten = -2;
constexpr std::int32_t kReplyNotRead = -3;
constexpr std::int32_t kReplyTooShort = -4;  // no count in it
}  // namespace list_failure

// Copies up to `capacity` entries of the service's device list into `entries` and returns how
// many: never more than the count says, nor than the reply holds whole. With no array (or
// capacity below 1) returns the number the service reports. A list_failure when the list
// cannot be had.
std::int32_t veltara_list_devices(veltara_device_entry* entries, std::int32_t capacity);

}  // namespace crvmon::veltara
