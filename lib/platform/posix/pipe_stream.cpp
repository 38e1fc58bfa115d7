#include "lib/platform/posix/pipe_stream.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "lib/platform/posix/pipe_protocol.h"
#include "lib/platform/posix/system_errors.h"

namespace crvmon::platform {

namespace protocol = pipe_protocol;

namespace {

// Waits for the socket; hang-ups and errors count as ready, and so does a shutdown by abort.
void waitFor(int fd, short events) {
    pollfd watched{fd, events, 0};
    while (poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
}

}  // namespace

PipeStream::PipeStream(Descriptor socket, Side side)
    : socket_(std::move(socket)), side_(side), fragment_(protocol::kMaxFragment) {}

DWORD PipeStream::read(void* buffer, DWORD size, bool messageMode, DWORD& count) {
    std::lock_guard lock(readMutex_);
    count = 0;
    if (DWORD reason = aborted_.load(); reason != ERROR_SUCCESS) return reason;
    auto* out = static_cast<std::uint8_t*>(buffer);
    auto take = [&] {
        std::size_t part = std::min<std::size_t>(pending(), size - count);
        if (part != 0) std::memcpy(out + count, fragment_.data() + begin_, part);
        begin_ += part;
        count += static_cast<DWORD>(part);
    };
    DWORD error = ERROR_SUCCESS;

    if (messageMode) {
        // A new message, unless the last read left part of one.
        if (pending() == 0 && !more_ && receive(true, error) != Fragment::Received) return error;
        for (;;) {
            take();
            if (pending() != 0) return ERROR_MORE_DATA;
            if (!more_) return ERROR_SUCCESS;
            // Writers never send an empty fragment before the last: more bytes are coming.
            if (count == size) return ERROR_MORE_DATA;
            if (receive(true, error) != Fragment::Received) return error;
        }
    }

    // Byte mode: wait for the first bytes, then take whatever else has arrived already.
    while (count < size) {
        if (pending() == 0) {
            Fragment got = receive(count == 0, error);
            if (got == Fragment::Received) continue;
            // Bytes already taken are delivered; an end is reported by the next read.
            if (count != 0) break;
            return error;
        }
        take();
    }
    return ERROR_SUCCESS;
}

PipeStream::Fragment PipeStream::receive(bool wait, DWORD& error) {
    for (;;) {
        if (DWORD ended = ended_.load(); ended != ERROR_SUCCESS) {
            error = ended;
            return Fragment::End;
        }
        if (wait) waitFor(socket_.get(), POLLIN);
        if (DWORD reason = aborted_.load(); reason != ERROR_SUCCESS) {
            error = reason;
            return Fragment::End;
        }
        std::uint8_t tag = 0;
        iovec parts[2] = {{&tag, 1}, {fragment_.data(), fragment_.size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        ssize_t received = recvmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (received < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (wait) continue;
                return Fragment::None;
            }
            error = endWith(ERROR_BROKEN_PIPE);
            return Fragment::End;
        }
        if (received == 0) {
            // Every frame holds at least its tag: this is the end of the stream.
            DWORD reason = aborted_.load();
            error = reason != ERROR_SUCCESS ? reason : endWith(ERROR_BROKEN_PIPE);
            return Fragment::End;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            error = endWith(ERROR_INVALID_DATA);
            return Fragment::End;
        }
        std::size_t length = static_cast<std::size_t>(received) - 1;
        if (tag == protocol::kFinalFragment || tag == protocol::kMoreFragment) {
            begin_ = 0;
            end_ = length;
            more_ = tag == protocol::kMoreFragment;
            return Fragment::Received;
        }
        if (tag == protocol::kDisconnected && side_ == Side::Client && length == 0) {
            error = endWith(ERROR_PIPE_NOT_CONNECTED);
            return Fragment::End;
        }
        error = endWith(ERROR_INVALID_DATA);
        return Fragment::End;
    }
}

DWORD PipeStream::endWith(DWORD error) {
    DWORD expected = ERROR_SUCCESS;
    if (!ended_.compare_exchange_strong(expected, error)) return expected;
    // Whatever follows a broken frame cannot be trusted; the peer learns it is over.
    if (error == ERROR_INVALID_DATA) ::shutdown(socket_.get(), SHUT_RDWR);
    begin_ = end_ = 0;
    more_ = false;
    return error;
}

DWORD PipeStream::write(const void* data, DWORD size, DWORD& count) {
    std::lock_guard lock(writeMutex_);
    count = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t offset = 0;
    do {
        if (DWORD reason = aborted_.load(); reason != ERROR_SUCCESS) return reason;
        std::size_t part = std::min<std::size_t>(protocol::kMaxFragment, size - offset);
        std::uint8_t tag =
            offset + part < size ? protocol::kMoreFragment : protocol::kFinalFragment;
        iovec parts[2] = {{&tag, 1}, {const_cast<std::uint8_t*>(bytes + offset), part}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = part == 0 ? 1 : 2;
        if (sendmsg(socket_.get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            offset += part;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitFor(socket_.get(), POLLOUT);
            continue;
        }
        if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) return peerEndForWrite();
        return windowsError(errno);
    } while (offset < size);
    count = size;
    return ERROR_SUCCESS;
}

DWORD PipeStream::peerEndForWrite() {
    if (DWORD reason = aborted_.load(); reason != ERROR_SUCCESS) return reason;
    if (side_ == Side::Server) return ERROR_NO_DATA;
    if (ended_.load() == ERROR_PIPE_NOT_CONNECTED) return ERROR_PIPE_NOT_CONNECTED;
    // A disconnect notice that no read has reached yet: found when the client has read all that
    // came before it.
    std::uint8_t tag = 0;
    ssize_t peeked;
    do {
        peeked = recv(socket_.get(), &tag, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (peeked < 0 && errno == EINTR);
    return peeked == 1 && tag == protocol::kDisconnected ? ERROR_PIPE_NOT_CONNECTED
                                                         : ERROR_BROKEN_PIPE;
}

void PipeStream::abort(DWORD reason) {
    DWORD expected = ERROR_SUCCESS;
    aborted_.compare_exchange_strong(expected, reason);
    // Wakes calls blocked on the socket in other threads; the descriptor itself stays open
    // until the last of them has let go of the stream.
    ::shutdown(socket_.get(), SHUT_RDWR);
}

void PipeStream::noticeDisconnect() {
    // Without the write lock: one frame is sent whole, and a reader that meets the notice in the
    // middle of a message takes it as the end.
    const std::uint8_t tag = protocol::kDisconnected;
    send(socket_.get(), &tag, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

bool PipeStream::peerGone() const {
    pollfd watched{socket_.get(), POLLRDHUP, 0};
    return poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLRDHUP)) != 0;
}

DWORD PipeHandle::setReadMode(DWORD mode) {
    if (mode == PIPE_READMODE_MESSAGE && pipeType_ != PIPE_TYPE_MESSAGE) {
        return ERROR_INVALID_PARAMETER;
    }
    readMode_.store(mode);
    return ERROR_SUCCESS;
}

}  // namespace crvmon::platform
