#include "lib/platform/posix/device_protocol.h"

#include <algorithm>
#include <cstring>

#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform::device_protocol {

namespace {

void put(std::vector<std::uint8_t>& frame, std::size_t offset, std::uint32_t value) {
    std::memcpy(frame.data() + offset, &value, sizeof value);
}

std::uint32_t get(std::span<const std::uint8_t> frame, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, frame.data() + offset, sizeof value);
    return value;
}

}  // namespace

DWORD devicePath(std::string_view name, std::string& path) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
        return ERROR_INVALID_NAME;
    }
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    std::string full = objectRoot() + "/device/" + lower;
    if (full.size() > kMaxSocketPath) return ERROR_FILENAME_EXCED_RANGE;
    path = std::move(full);
    return ERROR_SUCCESS;
}

std::vector<std::uint8_t> encodeRequest(const Request& request) {
    std::vector<std::uint8_t> frame(kRequestHeaderSize + request.input.size());
    put(frame, 0, kRequestMagic);
    put(frame, 4, request.sequence);
    put(frame, 8, request.code);
    put(frame, 12, static_cast<std::uint32_t>(request.input.size()));
    put(frame, 16, request.outputCapacity);
    if (!request.input.empty()) {
        std::memcpy(frame.data() + kRequestHeaderSize, request.input.data(), request.input.size());
    }
    return frame;
}

std::vector<std::uint8_t> encodeReply(const Reply& reply) {
    std::vector<std::uint8_t> frame(kReplyHeaderSize + reply.output.size());
    put(frame, 0, kReplyMagic);
    put(frame, 4, reply.sequence);
    put(frame, 8, reply.error);
    put(frame, 12, static_cast<std::uint32_t>(reply.output.size()));
    if (!reply.output.empty()) {
        std::memcpy(frame.data() + kReplyHeaderSize, reply.output.data(), reply.output.size());
    }
    return frame;
}

std::optional<Request> decodeRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < kRequestHeaderSize || get(frame, 0) != kRequestMagic) return std::nullopt;
    std::uint32_t inputSize = get(frame, 12);
    Request request;
    request.sequence = get(frame, 4);
    request.code = get(frame, 8);
    request.outputCapacity = get(frame, 16);
    if (inputSize > kMaxPayload || request.outputCapacity > kMaxPayload ||
        frame.size() != kRequestHeaderSize + inputSize) {
        return std::nullopt;
    }
    request.input = frame.subspan(kRequestHeaderSize, inputSize);
    return request;
}

std::optional<Reply> decodeReply(std::span<const std::uint8_t> frame) {
    if (frame.size() < kReplyHeaderSize || get(frame, 0) != kReplyMagic) return std::nullopt;
    std::uint32_t outputSize = get(frame, 12);
    if (outputSize > kMaxPayload || frame.size() != kReplyHeaderSize + outputSize) {
        return std::nullopt;
    }
    Reply reply;
    reply.sequence = get(frame, 4);
    reply.error = get(frame, 8);
    reply.output = frame.subspan(kReplyHeaderSize, outputSize);
    return reply;
}

}  // namespace crvmon::platform::device_protocol
