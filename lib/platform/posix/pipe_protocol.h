// Named pipes over Unix SOCK_SEQPACKET sockets: where a pipe lives under the object root and
// the frames its two ends exchange.
//
// One listening socket per pipe name, <root>/pipe/<name>, served by an accepting thread in the
// process that created the pipe's instances. That thread keeps the instance accounting, so
// every opening client gets a definite answer and no connection is taken without an instance:
// - No socket, or nobody listening on it: the pipe does not exist (ERROR_FILE_NOT_FOUND).
// - A client connects and sends a hello naming the pipe and what it wants. Open: the thread
//   hands the connection to a listening instance and answers 0, or answers ERROR_PIPE_BUSY and
//   closes it. Wait: answers 0 when an instance listens, else ERROR_PIPE_BUSY now and 0 later,
//   as soon as one does. Probe: answers 0 or ERROR_PIPE_BUSY and closes.
// - After a 0 answer to Open, the socket carries the pipe's data. Every frame starts with a
//   tag: a fragment of a message (final or with more to follow), or the server's notice that it
//   disconnected the instance. Messages longer than one fragment are split so that any size fits
//   the socket's buffer.
// Integers are in host byte order: both ends run on one machine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/platform/posix/kernel32.h"

namespace crvmon::platform::pipe_protocol {

// Longest NAME in "\\.\pipe\NAME", as Windows limits the whole pipe name to 256 characters.
inline constexpr std::size_t kMaxNameUnits = 256 - 9;

// Nothing when the name does not start with "\\.\pipe\" (in any case).
std::optional<std::u16string_view> pipeNamePart(std::u16string_view fullName);

// The folded NAME of "\\.\pipe\NAME": ERROR_SUCCESS, or ERROR_INVALID_NAME for another
// prefix, an empty or too long NAME, or one containing '\' or '/'.
DWORD parsePipeName(std::u16string_view fullName, std::u16string& folded);

// <root>/pipe/<name as a file name>, or a hashed file name when that is too long for a socket
// address (the hello's full name tells pipes that share it apart). ERROR_FILENAME_EXCED_RANGE
// when the root leaves no room even for that.
DWORD pipePath(std::u16string_view folded, std::string& path);

enum class HelloKind : std::uint32_t { Open = 1, Wait = 2, Probe = 3 };

struct Hello {
    HelloKind kind = HelloKind::Open;
    std::u16string name;  // folded
};

struct Answer {
    std::uint32_t error = 0;           // 0: done (opened, or an instance is free)
    std::uint32_t pipeType = 0;        // PIPE_TYPE_BYTE or PIPE_TYPE_MESSAGE
    std::uint32_t defaultTimeout = 0;  // milliseconds, for NMPWAIT_USE_DEFAULT_WAIT
};

inline constexpr std::uint32_t kHelloMagic = 0x4f4c4850;   // "PHLO"
inline constexpr std::uint32_t kAnswerMagic = 0x534e4150;  // "PANS"
// magic, kind, name length in units; then the units.
inline constexpr std::size_t kHelloHeaderSize = 3 * 4;
inline constexpr std::size_t kMaxHelloFrame = kHelloHeaderSize + 2 * kMaxNameUnits;
// magic, error, pipe type, default time-out.
inline constexpr std::size_t kAnswerSize = 4 * 4;

std::vector<std::uint8_t> encodeHello(const Hello& hello);
std::array<std::uint8_t, kAnswerSize> encodeAnswer(const Answer& answer);

// Nothing when the frame is malformed: short, of another kind, or with a length field that
// disagrees with the frame or exceeds the limits.
std::optional<Hello> decodeHello(std::span<const std::uint8_t> frame);
std::optional<Answer> decodeAnswer(std::span<const std::uint8_t> frame);

// Data frames: a tag, then up to kMaxFragment bytes of a message.
inline constexpr std::uint8_t kFinalFragment = 'M';
inline constexpr std::uint8_t kMoreFragment = 'C';
inline constexpr std::uint8_t kDisconnected = 'D';  // server to client only, no payload
inline constexpr std::size_t kMaxFragment = 32 * 1024;

}  // namespace crvmon::platform::pipe_protocol
