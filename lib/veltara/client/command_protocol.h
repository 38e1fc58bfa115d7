// Numbered commands to a Veltara device through its client: one request written and one reply
// read on a pipe instance borrowed from the client's pool.
#pragma once

#include <cstdint>

namespace crvmon {

class VeltaraClient;

namespace veltara {

// Sends a device ('R') or host ('H') command. `buffer` supplies the request's payload and, for
// record replies, receives the reply: it must hold the command's record (2576 bytes for the
// monitor record, 96 for driver and host information). Returns 0 or the command's value, or:
// -1 null client, -2 type neither 'R' nor 'H', -3 no pipe instance, -4 request not written,
// -5 command not handled, -6 reply not read, -7 status word other than success.
std::int32_t veltara_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer);

// A host command: 0, or -1 no pipe instance, -2 request not written, -3 command other than
// host information, -4 reply not read.
std::int32_t veltara_host_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer);

// The command's name for messages, "Invalid cmd" beyond the table.
const char* commandName(std::uint32_t number);

}  // namespace veltara
}  // namespace crvmon
