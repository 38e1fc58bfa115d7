// The client side of named pipes, and the calls that both sides share: ReadFile, WriteFile,
// SetNamedPipeHandleState, FlushFileBuffers.
#include "lib/platform/posix/named_pipes.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "lib/platform/posix/object_names.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/pipe_protocol.h"
#include "lib/platform/posix/pipe_stream.h"
#include "lib/platform/posix/system_errors.h"
#include "lib/platform/posix/unix_socket.h"
#include "lib/platform/posix/wait_hook.h"

namespace crvmon::platform {

namespace protocol = pipe_protocol;

namespace {

// A client handle: one connection, from CreateFileW to CloseHandle. Byte read mode at first,
// as on Windows.
class PipeClient : public PipeHandle {
  public:
    PipeClient(std::shared_ptr<PipeStream> stream, DWORD pipeType)
        : PipeHandle(pipeType, PIPE_READMODE_BYTE), stream_(std::move(stream)) {}

    std::shared_ptr<PipeStream> stream(DWORD&) override { return stream_; }
    void closed() override { stream_->abort(ERROR_OPERATION_ABORTED); }

  private:
    const std::shared_ptr<PipeStream> stream_;
};

// A connection to the pipe's accepting thread with the hello sent, or the error: no socket or
// nobody accepting is a pipe that does not exist.
DWORD greet(std::u16string_view fullName, protocol::HelloKind kind, Descriptor& socket) {
    std::u16string folded;
    std::string path;
    if (DWORD error = protocol::parsePipeName(fullName, folded); error != ERROR_SUCCESS) {
        return error;
    }
    if (DWORD error = protocol::pipePath(folded, path); error != ERROR_SUCCESS) return error;
    socket = connectSeqpacket(path);
    if (!socket.valid()) return windowsError(errno);
    std::vector<std::uint8_t> hello = protocol::encodeHello({kind, std::move(folded)});
    // A server that went away between connect and send: the pipe is gone.
    if (sendMessage(socket.get(), hello.data(), hello.size()) != 0) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

// The next answer on the connection; ERROR_FILE_NOT_FOUND in error when the server closed it
// (the pipe went away), ERROR_INVALID_DATA when it is not an answer.
std::optional<protocol::Answer> receiveAnswer(int fd, DWORD& error) {
    std::uint8_t frame[protocol::kAnswerSize + 1];
    bool truncated = false;
    ssize_t received = receiveMessage(fd, frame, sizeof frame, truncated);
    if (received <= 0) {
        error = ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    auto answer = protocol::decodeAnswer({frame, static_cast<std::size_t>(received)});
    if (!answer || truncated) error = ERROR_INVALID_DATA;
    return answer;
}

DWORD openInstance(std::u16string_view fullName, HANDLE& handle) {
    Descriptor socket;
    if (DWORD error = greet(fullName, protocol::HelloKind::Open, socket); error != ERROR_SUCCESS) {
        return error;
    }
    DWORD error = ERROR_SUCCESS;
    auto answer = receiveAnswer(socket.get(), error);
    if (!answer) return error;
    if (answer->error != ERROR_SUCCESS) return answer->error;
    auto stream = std::make_shared<PipeStream>(std::move(socket), PipeStream::Side::Client);
    handle = HandleTable::instance().insert(std::make_shared<PipeClient>(stream, answer->pipeType));
    if (handle == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_SUCCESS;
}

// WaitNamedPipeW without the report to the hook.
DWORD waitForInstance(std::u16string_view fullName, DWORD timeout) {
    // A hook takes the time-out in place of real time; a wait that has no end cannot time out.
    WaitHook* hook = timeout != NMPWAIT_WAIT_FOREVER ? installedWaitHook() : nullptr;
    Descriptor socket;
    DWORD error = greet(
        fullName, hook != nullptr ? protocol::HelloKind::Probe : protocol::HelloKind::Wait, socket);
    if (error != ERROR_SUCCESS) return error;
    auto answer = receiveAnswer(socket.get(), error);
    if (!answer) return error;
    if (answer->error != ERROR_PIPE_BUSY) return answer->error;

    DWORD limit = timeout == NMPWAIT_USE_DEFAULT_WAIT ? answer->defaultTimeout : timeout;
    if (hook != nullptr) {
        hook->waitTimedOut(limit);
        return ERROR_SEM_TIMEOUT;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        int wait = -1;
        if (limit != NMPWAIT_WAIT_FOREVER) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return ERROR_SEM_TIMEOUT;
            wait = static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30));
        }
        pollfd watched{socket.get(), POLLIN, 0};
        int ready = poll(&watched, 1, wait);
        if (ready < 0 && errno != EINTR) return windowsError(errno);
        if (ready <= 0) continue;
        answer = receiveAnswer(socket.get(), error);
        return answer ? answer->error : error;
    }
}

template <typename Kind>
std::shared_ptr<Kind> lookupOrFail(HANDLE handle) {
    auto object = HandleTable::instance().lookup<Kind>(handle);
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace

HANDLE openPipeClient(std::u16string_view fullName, std::wstring_view recordedName) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error;
    try {
        error = openInstance(fullName, handle);
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (WaitHook* hook = installedWaitHook()) hook->pipeOpened(recordedName, error);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

}  // namespace crvmon::platform

using namespace crvmon::platform;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::optional<std::u16string> units;
    try {
        units = object_names::toUtf16(fileName);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    if (!units) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (pipe_protocol::pipeNamePart(*units)) {
        if (creationDisposition != OPEN_EXISTING) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        return openPipeClient(*units, fileName);
    }
    // Everything else the stand-in knows has an ASCII name.
    std::string narrow;
    for (char16_t unit : *units) {
        if (unit >= 0x80) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        narrow += static_cast<char>(unit);
    }
    return CreateFileA(narrow.c_str(), desiredAccess, shareMode, securityAttributes,
                       creationDisposition, flagsAndAttributes, templateFile);
}

BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeOut) {
    if (name == nullptr) return finish(ERROR_INVALID_PARAMETER);
    DWORD error;
    try {
        auto units = object_names::toUtf16(name);
        error = units ? waitForInstance(*units, timeOut) : ERROR_INVALID_NAME;
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (WaitHook* hook = installedWaitHook()) hook->pipeWaited(name, timeOut, error);
    return finish(error);
}

// Win32's signature, whose pointers are in-out; the stand-in only reads them.
// NOLINTBEGIN(readability-non-const-parameter)
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                             LPDWORD collectDataTimeout) {
    // NOLINTEND(readability-non-const-parameter)
    auto handle = lookupOrFail<PipeHandle>(pipe);
    if (!handle) return FALSE;
    // Collecting writes exists only for pipes to other machines.
    if (maxCollectionCount != nullptr || collectDataTimeout != nullptr) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    if (mode == nullptr) return TRUE;
    if ((*mode & ~(PIPE_READMODE_MESSAGE | PIPE_NOWAIT)) != 0) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    if ((*mode & PIPE_NOWAIT) != 0) return finish(ERROR_NOT_SUPPORTED);
    return finish(handle->setReadMode(*mode & PIPE_READMODE_MESSAGE));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    auto handle = lookupOrFail<PipeHandle>(file);
    if (!handle) return FALSE;
    if (overlapped != nullptr) return finish(ERROR_NOT_SUPPORTED);
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    *bytesRead = 0;
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<PipeStream> stream = handle->stream(error);
    if (!stream) return finish(error);
    return finish(stream->read(buffer, bytesToRead, handle->messageReadMode(), *bytesRead));
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    auto handle = lookupOrFail<PipeHandle>(file);
    if (!handle) return FALSE;
    if (overlapped != nullptr) return finish(ERROR_NOT_SUPPORTED);
    if (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite != 0)) {
        return finish(ERROR_INVALID_PARAMETER);
    }
    *bytesWritten = 0;
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<PipeStream> stream = handle->stream(error);
    if (!stream) return finish(error);
    return finish(stream->write(buffer, bytesToWrite, *bytesWritten));
}

BOOL FlushFileBuffers(HANDLE file) {
    return lookupOrFail<PipeHandle>(file) ? TRUE : FALSE;
}
