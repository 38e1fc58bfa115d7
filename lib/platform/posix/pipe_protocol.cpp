#include "lib/platform/posix/pipe_protocol.h"

#include <cstring>

#include "lib/platform/posix/object_names.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform::pipe_protocol {

namespace {

void put(std::uint8_t* frame, std::size_t offset, std::uint32_t value) {
    std::memcpy(frame + offset, &value, sizeof value);
}

std::uint32_t get(std::span<const std::uint8_t> frame, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, frame.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::optional<std::u16string_view> pipeNamePart(std::u16string_view fullName) {
    constexpr std::string_view kPrefix = "\\\\.\\pipe\\";
    if (!object_names::startsWithNoCase(fullName, kPrefix)) return std::nullopt;
    return fullName.substr(kPrefix.size());
}

DWORD parsePipeName(std::u16string_view fullName, std::u16string& folded) {
    auto name = pipeNamePart(fullName);
    if (!name || name->empty() || name->size() > kMaxNameUnits ||
        name->find_first_of(u"\\/") != std::u16string_view::npos) {
        return ERROR_INVALID_NAME;
    }
    folded = object_names::foldCase(*name);
    return ERROR_SUCCESS;
}

DWORD pipePath(std::u16string_view folded, std::string& path) {
    std::string directory = objectRoot() + "/pipe/";
    std::string full = directory + object_names::fileComponent(folded);
    if (full.size() > kMaxSocketPath) full = directory + object_names::hashedComponent(folded);
    if (full.size() > kMaxSocketPath) return ERROR_FILENAME_EXCED_RANGE;
    path = std::move(full);
    return ERROR_SUCCESS;
}

std::vector<std::uint8_t> encodeHello(const Hello& hello) {
    std::vector<std::uint8_t> frame(kHelloHeaderSize + 2 * hello.name.size());
    put(frame.data(), 0, kHelloMagic);
    put(frame.data(), 4, static_cast<std::uint32_t>(hello.kind));
    put(frame.data(), 8, static_cast<std::uint32_t>(hello.name.size()));
    if (!hello.name.empty()) {
        std::memcpy(frame.data() + kHelloHeaderSize, hello.name.data(), 2 * hello.name.size());
    }
    return frame;
}

std::array<std::uint8_t, kAnswerSize> encodeAnswer(const Answer& answer) {
    std::array<std::uint8_t, kAnswerSize> frame;
    put(frame.data(), 0, kAnswerMagic);
    put(frame.data(), 4, answer.error);
    put(frame.data(), 8, answer.pipeType);
    put(frame.data(), 12, answer.defaultTimeout);
    return frame;
}

std::optional<Hello> decodeHello(std::span<const std::uint8_t> frame) {
    if (frame.size() < kHelloHeaderSize || get(frame, 0) != kHelloMagic) return std::nullopt;
    std::uint32_t kind = get(frame, 4);
    std::uint32_t length = get(frame, 8);
    if (kind < static_cast<std::uint32_t>(HelloKind::Open) ||
        kind > static_cast<std::uint32_t>(HelloKind::Probe) || length == 0 ||
        length > kMaxNameUnits || frame.size() != kHelloHeaderSize + 2 * std::size_t{length}) {
        return std::nullopt;
    }
    Hello hello;
    hello.kind = static_cast<HelloKind>(kind);
    hello.name.resize(length);
    std::memcpy(hello.name.data(), frame.data() + kHelloHeaderSize, 2 * std::size_t{length});
    return hello;
}

std::optional<Answer> decodeAnswer(std::span<const std::uint8_t> frame) {
    if (frame.size() != kAnswerSize || get(frame, 0) != kAnswerMagic) return std::nullopt;
    Answer answer{get(frame, 4), get(frame, 8), get(frame, 12)};
    if (answer.pipeType != PIPE_TYPE_BYTE && answer.pipeType != PIPE_TYPE_MESSAGE) {
        return std::nullopt;
    }
    return answer;
}

}  // namespace crvmon::platform::pipe_protocol
