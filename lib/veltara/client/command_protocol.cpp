#include "lib/veltara/client/command_protocol.h"

#include <array>
#include <cstring>
#include <vector>

#include "lib/veltara/client/client_log.h"
#include "lib/veltara/client/veltara_client.h"
#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::veltara {

namespace {

enum class Reply { Rejected, Version, Status, Value, Record };

struct ReplyShape {
    Reply kind;
    std::size_t length;  // bytes read
};

ReplyShape replyShape(std::uint32_t number, std::uint32_t size) {
    using namespace wire::command;
    switch (number) {
        case kVersion: return {Reply::Version, wire::kVersionReplySize};
        case kAllocCma:
        case kLockCore:
        case kReadSnapshot: return {Reply::Record, size};
        case kFreeCma:
        case kWriteCma:
        case kReadCma:
        case kWriteMem:
        case kPostInfer:
        case kWaitDone:
        case kUnlockCore:
        case kSetClockNpu:
        case kCaptureSnapshot:
        case kReleaseSnapshot: return {Reply::Status, wire::kStatusSize};
        case kGetSignalType:
        case kGetTemperature:
        case kGetClockNpu: return {Reply::Value, wire::kValueSize};
        case kGetMonitorInfo: return {Reply::Record, wire::kMonitorInfoSize};
        case kDriverInfo: return {Reply::Record, wire::kDriverInfoSize};
        default: return {Reply::Rejected, 0};
    }
}

// The request: the code, then exactly `size` payload bytes from the caller's buffer (zeros
// when there is none).
std::vector<std::uint8_t> buildRequest(std::uint32_t code, const void* buffer) {
    const std::uint32_t size = wire::commandSize(code);
    std::vector<std::uint8_t> request(4 + size, 0);
    store32(request.data(), code);
    if (size != 0 && buffer != nullptr) std::memcpy(request.data() + 4, buffer, size);
    return request;
}

// One write of the whole request. An instance that cannot take it is broken: it is closed and
// a new connection takes its place in the lease.
bool writeRequest(PipeLease& lease, const std::vector<std::uint8_t>& request, std::uint32_t number,
                  const char* function) {
    DWORD written = 0;
    if (WriteFile(lease.handle(), request.data(), static_cast<DWORD>(request.size()), &written,
                  nullptr) != FALSE) {
        return true;
    }
    CRVMON_CLIENT_LOG(function, "%s Failed to write the request (%d)", commandName(number),
                      static_cast<int>(GetLastError()));
    lease.replace();
    return false;
}

// One read of the reply; `received` is how many bytes it brought.
bool readReply(PipeLease& lease, void* destination, std::size_t length, DWORD& received) {
    received = 0;
    return ReadFile(lease.handle(), destination, static_cast<DWORD>(length), &received, nullptr) !=
           FALSE;
}

}  // namespace

const char* commandName(std::uint32_t number) {
    // Both branches are names (the table has one for each of the kCount commands).
    // cppcheck-suppress CastIntegerToAddressAtReturn
    return number < wire::kCommandNames.size() ? wire::kCommandNames[number] : "Invalid cmd";
}

std::int32_t veltara_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer) {
    constexpr const char* kFunction = "veltara_ioctl";
    if (client == nullptr) {
        CRVMON_CLIENT_LOG(kFunction, "Invalid handle!");
        return ioctl_failure::kNullClient;
    }
    const std::uint32_t type = wire::commandType(code);
    const std::uint32_t number = wire::commandNumber(code);
    const std::uint32_t size = wire::commandSize(code);
    if (type == wire::kHostType) return veltara_host_ioctl(client, code, buffer);
    if (type != wire::kDeviceType) {
        CRVMON_CLIENT_LOG(kFunction, "Invalid IOC_TYPE: %c", static_cast<char>(type));
        return ioctl_failure::kUnknownType;
    }

    const std::vector<std::uint8_t> request = buildRequest(code, buffer);
    PipeLease lease(*client);
    if (!lease.valid()) {
        CRVMON_CLIENT_LOG(kFunction, "Failed to acquire pipe handle!");
        return ioctl_failure::kNoPipeInstance;
    }
    if (!writeRequest(lease, request, number, kFunction)) return ioctl_failure::kRequestNotWritten;

    const ReplyShape shape = replyShape(number, size);
    if (shape.kind == Reply::Rejected) {
        CRVMON_CLIENT_LOG(kFunction, "Unsupported ioctl command: %u", number);
        return ioctl_failure::kNotHandled;
    }

    std::uint32_t status = 0xFFFFFFFFu;
    std::uint32_t value = 0xFFFFFFFFu;
    std::array<std::uint8_t, wire::kVersionReplySize> version{};
    std::vector<std::uint8_t> discard;
    void* destination = nullptr;
    switch (shape.kind) {
        case Reply::Status: destination = &status; break;
        case Reply::Value: destination = &value; break;
        case Reply::Version: destination = version.data(); break;
        default:
            // Without a buffer the record is still taken off the pipe, so the instance stays
            // in step for the next command.
            if (buffer == nullptr) discard.resize(shape.length);
            destination = buffer != nullptr ? buffer : discard.data();
            break;
    }
    // A reply cut short would hand the caller zeros, or the rest of a preset slot, as if the
    // device had sent them: that is a failed read, for records and words alike.
    DWORD received = 0;
    const bool read = readReply(lease, destination, shape.length, received);
    if (read && received < shape.length) SetLastError(ERROR_INVALID_DATA);
    if (!read || received < shape.length) {
        const DWORD error = GetLastError();
        if (number == wire::command::kAllocCma || number == wire::command::kLockCore ||
            number == wire::command::kDriverInfo) {
            CRVMON_CLIENT_LOG(kFunction, "%s Failed to read response data: %d", commandName(number),
                              static_cast<int>(error));
        } else {
            CRVMON_CLIENT_LOG(kFunction, "%s Failed to read response data", commandName(number));
        }
        lease.replace();
        return ioctl_failure::kReplyNotRead;
    }

    switch (shape.kind) {
        case Reply::Status:
            if (status == wire::kStatusSuccess) return 0;
            CRVMON_CLIENT_LOG(kFunction, "%s Failed: %d", commandName(number),
                              static_cast<int>(status));
            return ioctl_failure::kStatusNotSuccess;
        case Reply::Value: return static_cast<std::int32_t>(value);
        case Reply::Version: return static_cast<std::int32_t>(load32(version.data()));
        default: return 0;
    }
}

std::int32_t veltara_host_ioctl(VeltaraClient* client, std::uint32_t code, void* buffer) {
    constexpr const char* kFunction = "veltara_host_ioctl";
    if (client == nullptr) {
        CRVMON_CLIENT_LOG(kFunction, "Invalid handle!");
        return host_ioctl_failure::kNullClient;
    }
    const std::uint32_t number = wire::commandNumber(code);
    const std::vector<std::uint8_t> request = buildRequest(code, buffer);
    PipeLease lease(*client);
    if (!lease.valid()) {
        CRVMON_CLIENT_LOG(kFunction, "Failed to acquire pipe handle!");
        return host_ioctl_failure::kNoPipeInstance;
    }
    if (!writeRequest(lease, request, number, kFunction))
        return host_ioctl_failure::kRequestNotWritten;
    if (number != 0) {
        CRVMON_CLIENT_LOG(kFunction, "Unsupported ioctl command: %u", number);
        return host_ioctl_failure::kNotHostInfo;
    }
    std::vector<std::uint8_t> discard;
    if (buffer == nullptr) discard.resize(wire::kHostInfoReplyMax);
    DWORD received = 0;
    const bool read = readReply(lease, buffer != nullptr ? buffer : discard.data(),
                                wire::kHostInfoReplyMax, received);
    // Cut short, the record would give the caller a driver version of zeros the service never
    // sent.
    if (read && received < wire::host_info::kSize) SetLastError(ERROR_INVALID_DATA);
    if (!read || received < wire::host_info::kSize) {
        CRVMON_CLIENT_LOG(kFunction, "%s Failed to read response data: %d", commandName(number),
                          static_cast<int>(GetLastError()));
        lease.replace();
        return host_ioctl_failure::kReplyNotRead;
    }
    return 0;
}

}  // namespace crvmon::veltara
