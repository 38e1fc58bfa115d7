#include "lib/platform/posix/unix_socket.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace crvmon::platform {

namespace {

// False (errno ENAMETOOLONG) when the path does not fit.
bool makeAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() > kMaxSocketPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int connectRetrying(int fd, const sockaddr_un& address) {
    while (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // An interrupted Unix-socket connect leaves the socket unconnected: try again.
        if (errno == EINTR) continue;
        if (errno == EISCONN) return 0;
        return -1;
    }
    return 0;
}

[[noreturn]] void fail(int error, const std::string& what, const std::string& path) {
    throw std::system_error(error, std::generic_category(), what + " " + path);
}

}  // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int Descriptor::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void Descriptor::reset(int fd) {
    // close is not retried: Linux releases the descriptor even when interrupted.
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Descriptor connectSeqpacket(const std::string& path) {
    sockaddr_un address;
    if (!makeAddress(path, address)) return Descriptor{};
    Descriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return socket;
    if (connectRetrying(socket.get(), address) != 0) {
        int error = errno;
        socket.reset();
        errno = error;
    }
    return socket;
}

Descriptor listenSeqpacket(const std::string& path) {
    sockaddr_un address;
    if (!makeAddress(path, address)) {
        fail(ENAMETOOLONG,
             "object path too long for a Unix socket (at most " + std::to_string(kMaxSocketPath) +
                 " bytes):",
             path);
    }
    // Two rounds: a stale file may be replaced once; losing that race to another server again
    // means the name is in use.
    for (int round = 0; round < 2; ++round) {
        Descriptor socket(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!socket.valid()) fail(errno, "cannot create a socket for", path);
        if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            if (listen(socket.get(), SOMAXCONN) != 0) fail(errno, "cannot listen at", path);
            return socket;
        }
        if (errno != EADDRINUSE) fail(errno, "cannot bind", path);

        // Something holds the path: a live server accepts (or has a full backlog), a stale
        // socket file refuses.
        Descriptor probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!probe.valid()) fail(errno, "cannot create a socket for", path);
        if (connectRetrying(probe.get(), address) == 0 || errno == EAGAIN) {
            fail(EADDRINUSE, "already served:", path);
        }
        if (errno != ECONNREFUSED) fail(errno, "cannot probe", path);
        if (unlink(path.c_str()) != 0 && errno != ENOENT) fail(errno, "cannot replace", path);
    }
    fail(EADDRINUSE, "already served:", path);
}

int sendMessage(int fd, const void* data, std::size_t size, int flags) {
    while (send(fd, data, size, flags | MSG_NOSIGNAL) < 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

ssize_t receiveMessage(int fd, void* buffer, std::size_t capacity, bool& truncated, int flags) {
    iovec part{buffer, capacity};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    for (;;) {
        ssize_t received = recvmsg(fd, &message, flags | MSG_CMSG_CLOEXEC);
        if (received < 0 && errno == EINTR) continue;
        truncated = received >= 0 && (message.msg_flags & MSG_TRUNC) != 0;
        return received;
    }
}

bool waitReady(int fd, short events, int wakeFd) {
    pollfd watched[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (watched[1].revents != 0) return false;
        if (watched[0].revents != 0) return true;
    }
}

}  // namespace crvmon::platform
