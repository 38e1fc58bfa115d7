// Unix SOCK_SEQPACKET sockets, the carrier of the stand-in's device objects: one message per
// send, boundaries kept. System calls interrupted by a signal are resumed; SIGPIPE is suppressed
// per call, never process-wide.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>
#include <string>

namespace crvmon::platform {

// Owns one descriptor.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Longest socket path the kernel takes (sun_path less its terminating zero).
inline constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

// Connects to the server listening at the path. Invalid with errno set on failure: ENOENT or
// ECONNREFUSED when nobody serves it, ENAMETOOLONG when the path is too long for a socket.
Descriptor connectSeqpacket(const std::string& path);

// Listens at the path. A socket file left by a server that is gone is replaced; a live server
// at the path, or any other failure, throws std::system_error naming the path.
Descriptor listenSeqpacket(const std::string& path);

// Sends one message; 0, or the errno of the failure (EPIPE when the peer is gone).
int sendMessage(int fd, const void* data, std::size_t size, int flags = 0);

// Receives one message into the buffer: its size, 0 at the end of the stream, -1 with errno set.
// truncated reports a message larger than the buffer (its excess is lost).
ssize_t receiveMessage(int fd, void* buffer, std::size_t capacity, bool& truncated, int flags = 0);

// Waits until fd is ready for the events (POLLIN, POLLOUT; hang-up and errors count as ready)
// or wakeFd becomes readable. False when woken.
bool waitReady(int fd, short events, int wakeFd);

}  // namespace crvmon::platform
