// The client side of device objects: CreateFileA opens a connection to the object's server,
// DeviceIoControl sends one request over it and completes with the server's reply.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "lib/platform/posix/device_protocol.h"
#include "lib/platform/posix/events.h"
#include "lib/platform/posix/handle_table.h"
#include "lib/platform/posix/named_pipes.h"
#include "lib/platform/posix/object_names.h"
#include "lib/platform/posix/system_errors.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform {

namespace protocol = device_protocol;

namespace {

// One open handle. Requests on it are taken one at a time, so each reply meets its request
// even when several threads share the handle.
class DeviceConnection : public KernelObject {
  public:
    explicit DeviceConnection(Descriptor socket) : socket_(std::move(socket)) {}

    // ERROR_SUCCESS with the output copied (at most outSize bytes) and counted, or the error.
    DWORD call(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
               DWORD& transferred) {
        std::lock_guard lock(mutex_);
        if (broken_) return ERROR_BROKEN_PIPE;
        // The input is copied into the frame before any output is written: callers may pass
        // one buffer as both.
        protocol::Request request;
        request.sequence = ++sequence_;
        request.code = code;
        request.outputCapacity = outSize;
        request.input = {static_cast<const std::uint8_t*>(in), inSize};
        std::vector<std::uint8_t> frame = protocol::encodeRequest(request);
        if (int error = sendMessage(socket_.get(), frame.data(), frame.size()); error != 0) {
            return breakWith(windowsError(error));
        }

        replyFrame_.resize(protocol::kMaxReplyFrame);
        bool truncated = false;
        ssize_t received =
            receiveMessage(socket_.get(), replyFrame_.data(), replyFrame_.size(), truncated);
        if (received < 0) return breakWith(windowsError(errno));
        if (received == 0) return breakWith(ERROR_BROKEN_PIPE);
        auto reply = protocol::decodeReply(
            std::span<const std::uint8_t>(replyFrame_.data(), static_cast<std::size_t>(received)));
        // After a reply it cannot trust, the connection is out of step with the server: drop it.
        // A request "still pending" is not a reply either: nothing would ever complete it.
        if (truncated || !reply || reply->sequence != request.sequence ||
            reply->error == ERROR_IO_PENDING) {
            return breakWith(ERROR_INVALID_DATA);
        }
        if (reply->error != ERROR_SUCCESS) return reply->error;

        std::size_t count = std::min<std::size_t>(reply->output.size(), outSize);
        if (count != 0) std::memcpy(out, reply->output.data(), count);
        transferred = static_cast<DWORD>(count);
        return ERROR_SUCCESS;
    }

  private:
    DWORD breakWith(DWORD error) {
        broken_ = true;
        socket_.reset();
        return error;
    }

    std::mutex mutex_;
    Descriptor socket_;
    std::uint32_t sequence_ = 0;
    bool broken_ = false;
    std::vector<std::uint8_t> replyFrame_;
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(a) == lower(b);
           });
}

HANDLE failWith(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

}  // namespace crvmon::platform

using namespace crvmon::platform;

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
    if (fileName == nullptr) return failWith(ERROR_INVALID_PARAMETER);
    std::string_view name(fileName);
    constexpr std::string_view kDeviceNamespace = "\\\\.\\";
    // Ordinary files are not part of the stand-in's object namespace.
    if (!name.starts_with(kDeviceNamespace)) return failWith(ERROR_PATH_NOT_FOUND);
    if (creationDisposition != OPEN_EXISTING) return failWith(ERROR_INVALID_PARAMETER);

    try {
        // Named pipes are a namespace of their own.
        if (startsWithNoCase(name.substr(kDeviceNamespace.size()), "pipe\\")) {
            std::wstring recorded;
            for (unsigned char byte : name) recorded += static_cast<wchar_t>(byte);
            return openPipeClient(object_names::widen(name), recorded);
        }
        name.remove_prefix(kDeviceNamespace.size());
        std::string path;
        if (DWORD error = device_protocol::devicePath(name, path); error != ERROR_SUCCESS) {
            return failWith(error);
        }
        Descriptor socket = connectSeqpacket(path);
        if (!socket.valid()) return failWith(windowsError(errno));
        HANDLE handle =
            HandleTable::instance().insert(std::make_shared<DeviceConnection>(std::move(socket)));
        if (handle == nullptr) return failWith(ERROR_NOT_ENOUGH_MEMORY);
        return handle;
    } catch (const std::bad_alloc&) {
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped) {
    auto connection = HandleTable::instance().lookup<DeviceConnection>(device);
    if (!connection) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((inBufferSize != 0 && inBuffer == nullptr) ||
        (outBufferSize != 0 && outBuffer == nullptr) ||
        (overlapped == nullptr && bytesReturned == nullptr) ||
        inBufferSize > device_protocol::kMaxPayload ||
        outBufferSize > device_protocol::kMaxPayload) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<EventObject> event;
    if (overlapped != nullptr && overlapped->hEvent != nullptr) {
        event = overlappedEvent(overlapped->hEvent);
        if (!event) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    if (overlapped != nullptr) {
        std::atomic_ref(overlapped->Internal).store(STATUS_PENDING, std::memory_order_relaxed);
        if (event) event->reset();
    }

    DWORD transferred = 0;
    DWORD error = ERROR_SUCCESS;
    try {
        error = connection->call(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                                 transferred);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (bytesReturned != nullptr) *bytesReturned = transferred;
    // A request that fails at once leaves the OVERLAPPED pending and its event unsignalled,
    // as Windows does.
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    if (overlapped != nullptr) {
        overlapped->InternalHigh = transferred;
        std::atomic_ref(overlapped->Internal).store(0, std::memory_order_release);
        if (event) event->set();
    }
    return TRUE;
}
