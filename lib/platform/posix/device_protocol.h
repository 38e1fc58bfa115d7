// Where a device object lives under the object root, and the frames its client and server
// exchange over the socket: one request message, answered by one reply message. Integers are in
// host byte order (both ends are on the same machine). Every decoder checks each length against
// the frame and against kMaxPayload before using it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform::device_protocol {

// Largest input, output capacity or output one request carries. Requests must fit one socket
// message, and the Orvek requests are a few kilobytes.
inline constexpr std::uint32_t kMaxPayload = 64 * 1024;

inline constexpr std::uint32_t kRequestMagic = 0x51444352;  // "RCDQ"
inline constexpr std::uint32_t kReplyMagic = 0x41444352;    // "RCDA"
// magic, sequence, control code, input size, output capacity; then the input.
inline constexpr std::size_t kRequestHeaderSize = 5 * 4;
// magic, sequence, error, output size; then the output.
inline constexpr std::size_t kReplyHeaderSize = 4 * 4;
inline constexpr std::size_t kMaxRequestFrame = kRequestHeaderSize + kMaxPayload;
inline constexpr std::size_t kMaxReplyFrame = kReplyHeaderSize + kMaxPayload;

// The socket path of device object NAME (as in "\\.\NAME"): <root>/device/<name in lower case>,
// since Windows object names ignore case. ERROR_INVALID_NAME for an empty name, a name with a
// path separator or "." / ".."; ERROR_FILENAME_EXCED_RANGE when the path is too long for a
// socket address.
DWORD devicePath(std::string_view name, std::string& path);

struct Request {
    std::uint32_t sequence = 0;
    std::uint32_t code = 0;
    std::uint32_t outputCapacity = 0;
    std::span<const std::uint8_t> input;  // within the decoded frame
};

struct Reply {
    std::uint32_t sequence = 0;
    std::uint32_t error = 0;
    std::span<const std::uint8_t> output;  // within the decoded frame
};

// The sizes must be at most kMaxPayload.
std::vector<std::uint8_t> encodeRequest(const Request& request);
std::vector<std::uint8_t> encodeReply(const Reply& reply);

// Nothing when the frame is malformed: short, of another kind, or with a size field that
// disagrees with the frame or exceeds kMaxPayload.
std::optional<Request> decodeRequest(std::span<const std::uint8_t> frame);
std::optional<Reply> decodeReply(std::span<const std::uint8_t> frame);

}  // namespace crvmon::platform::device_protocol
