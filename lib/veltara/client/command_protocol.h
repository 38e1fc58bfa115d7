// Numbered commands to a Veltara device through its client: one request written and one reply
// read on a pipe instance borrowed from the client's pool.
#pragma once

#include <cstdint>

namespace crvmon {

class VeltaraClient;

namespace veltara {

// Failures of veltara_ioctl. A failed query hands its number on as the value it could not read
// (a signal type of -6, say), so the numbers never change.
namespace ioctl_failure {
constexpr std::int32_t kNullClient = -1;
constexpr std::int32_t kUnknownType = -2;  // neither 'R' nor 'H'
constexpr std::int32_t kNoPipeInstance = -3;
constexpr std::int32_t kRequestNotWritten = -4;
constexpr std::int32_t kNotHandled = -5;        // a command number the service answers no way
constexpr std::int32_t kReplyNotRead = -6;      // also a record reply cut short
constexpr std::int32_t kStatusNotSuccess = -7;  // the status word was not wire::kStatusSuccess
}  // namespace ioctl_failure

// Whether the result of a value command (signal type, temperature, clock) is one of the
// failures above. The service's values share the channel: one of -7 to -1 cannot be told from
// a failure, and is taken as one.
constexpr bool valueCommandFailed(std::int32_t result) {
    return result >= ioctl_failure::kStatusNotSuccess && result <= ioctl_failure::kNullClient;
}

// Failures of veltara_host_ioctl.
namespace host_ioctl_failure {
constexpr std::int32_t kNullClient = -1;
constexpr std::int32_t kNoPipeInstance = -1;
constexpr std::int32_t kRequestNotWritten = -2;
constexpr std::int32_t kNotHostInfo = -3;  // a host command other than host information
constexpr std::int32_t kReplyNotRead = -4;
}  // namespace host_ioctl_failure

// Sends a device ('R') or host ('H') command. `buffer` supplies the request's payload and, for
// record replies, receives the reply: it must hold the command's record (2576 bytes for the
// monitor record, 96 for driver and host information). Returns 0 or the command's value, or an
// ioctl_failure (a host command: a host_ioctl_failure).
std::int32_t veltara_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer);

// A host command: 0, or a host_ioctl_failure.
std::int32_t veltara_host_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer);

// The command's name for messages, "Invalid cmd" beyond the table.
const char* commandName(std::uint32_t number);

}  // namespace veltara
}  // namespace crvmon
