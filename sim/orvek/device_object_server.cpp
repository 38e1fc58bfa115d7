#include "sim/orvek/device_object_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <list>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "lib/platform/posix/device_protocol.h"
#include "lib/platform/posix/kernel32.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::sim {

namespace protocol = platform::device_protocol;
using platform::Descriptor;
using platform::kMaxSocketPath;
using platform::listenSeqpacket;
using platform::objectDirectory;
using platform::objectRoot;
using platform::receiveMessage;
using platform::sendMessage;
using platform::waitReady;

namespace {

struct Connection {
    explicit Connection(Descriptor s) : socket(std::move(s)) {}
    Descriptor socket;  // used by its own thread only
    std::thread thread;
    std::atomic<bool> finished{false};
};

// Sends the reply unless the server stops first. A client that reads no replies holds up
// nobody but its own connection.
bool sendReply(int fd, const std::vector<std::uint8_t>& frame, int wakeFd) {
    for (;;) {
        if (!waitReady(fd, POLLOUT, wakeFd)) return false;
        int error = sendMessage(fd, frame.data(), frame.size(), MSG_DONTWAIT);
        if (error == 0) return true;
        if (error != EAGAIN && error != EWOULDBLOCK) return false;
    }
}

}  // namespace

struct DeviceObjectServer::State {
    std::string path;
    DeviceIoHandler handler;
    Descriptor listener;
    Descriptor wakeRead;
    Descriptor wakeWrite;
    dev_t device = 0;
    ino_t inode = 0;
    std::mutex mutex;
    std::list<std::unique_ptr<Connection>> connections;
    std::thread acceptor;

    void acceptConnections();
    void startConnection(Descriptor socket);
    void serve(Connection& connection);
    DeviceIoReply handle(const protocol::Request& request);
    // Waits up to the time for a stop; true when stopping.
    bool pause(int milliseconds);
    void removeObject();
    void stop();
};

void DeviceObjectServer::State::acceptConnections() {
    while (waitReady(listener.get(), POLLIN, wakeRead.get())) {
        Descriptor socket(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (socket.valid()) {
            startConnection(std::move(socket));
            continue;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) {
            continue;
        }
        // Out of descriptors or memory: the client waits in the backlog until some are freed.
        if (pause(50)) return;
    }
}

void DeviceObjectServer::State::startConnection(Descriptor socket) {
    std::lock_guard lock(mutex);
    for (auto it = connections.begin(); it != connections.end();) {
        if ((*it)->finished.load(std::memory_order_acquire)) {
            (*it)->thread.join();
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
    try {
        connections.push_back(std::make_unique<Connection>(std::move(socket)));
        Connection& connection = *connections.back();
        try {
            connection.thread = std::thread([this, &connection] { serve(connection); });
        } catch (const std::system_error&) {
            connections.pop_back();  // closes the socket: the client sees the object gone
        }
    } catch (const std::bad_alloc&) {
    }
}

void DeviceObjectServer::State::serve(Connection& connection) {
    try {
        std::vector<std::uint8_t> frame(protocol::kMaxRequestFrame);
        int fd = connection.socket.get();
        while (waitReady(fd, POLLIN, wakeRead.get())) {
            bool truncated = false;
            ssize_t received =
                receiveMessage(fd, frame.data(), frame.size(), truncated, MSG_DONTWAIT);
            if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (received <= 0 || truncated) break;
            auto request = protocol::decodeRequest(
                std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(received)));
            if (!request) break;  // not the stand-in's client: drop it
            DeviceIoReply reply = handle(*request);
            protocol::Reply wire;
            wire.sequence = request->sequence;
            wire.error = reply.error;
            wire.output = reply.output;
            if (!sendReply(fd, protocol::encodeReply(wire), wakeRead.get())) break;
        }
    } catch (const std::bad_alloc&) {
    }
    connection.socket.reset();
    connection.finished.store(true, std::memory_order_release);
}

DeviceIoReply DeviceObjectServer::State::handle(const protocol::Request& request) {
    DeviceIoRequest call{
        request.code, {request.input.begin(), request.input.end()}, request.outputCapacity};
    DeviceIoReply reply;
    try {
        reply = handler(call);
    } catch (...) {
        reply = DeviceIoReply{};
        reply.error = ERROR_GEN_FAILURE;
    }
    if (reply.error != ERROR_SUCCESS) {
        reply.output.clear();
    } else if (reply.output.size() > request.outputCapacity) {
        reply.output.resize(request.outputCapacity);
    }
    return reply;
}

bool DeviceObjectServer::State::pause(int milliseconds) {
    pollfd wake{wakeRead.get(), POLLIN, 0};
    int ready = poll(&wake, 1, milliseconds);
    return ready > 0;
}

void DeviceObjectServer::State::removeObject() {
    // Only the socket this server bound: a later server may have replaced it.
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && status.st_dev == device && status.st_ino == inode) {
        unlink(path.c_str());
    }
}

void DeviceObjectServer::State::stop() {
    removeObject();
    // Never drained: every poll on it, now and later, sees the stop.
    const char stopByte = 1;
    while (write(wakeWrite.get(), &stopByte, 1) < 0 && errno == EINTR) {
    }
    if (acceptor.joinable()) acceptor.join();
    listener.reset();  // clients still in the backlog see the object gone
    std::lock_guard lock(mutex);
    for (const auto& connection : connections) connection->thread.join();
    connections.clear();
}

DeviceObjectServer::DeviceObjectServer(const std::string& name, DeviceIoHandler handler)
    : state_(std::make_unique<State>()) {
    if (!handler) throw std::invalid_argument("device object server without a handler");
    State& state = *state_;
    state.handler = std::move(handler);
    switch (protocol::devicePath(name, state.path)) {
        case ERROR_SUCCESS: break;
        case ERROR_FILENAME_EXCED_RANGE:
            throw std::system_error(ENAMETOOLONG, std::generic_category(),
                                    "object path too long for a Unix socket (at most " +
                                        std::to_string(kMaxSocketPath) +
                                        " bytes) for device object " + name + " under " +
                                        objectRoot());
        default: throw std::invalid_argument("invalid device object name: \"" + name + "\"");
    }
    objectDirectory("device");

    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
    }
    state.wakeRead.reset(wake[0]);
    state.wakeWrite.reset(wake[1]);

    state.listener = listenSeqpacket(state.path);
    struct stat status;
    if (lstat(state.path.c_str(), &status) == 0) {
        state.device = status.st_dev;
        state.inode = status.st_ino;
    }
    // Accepting never blocks: a client that gives up between poll and accept costs nothing.
    int flags = fcntl(state.listener.get(), F_GETFL);
    if (flags < 0 || fcntl(state.listener.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        int error = errno;
        state.removeObject();
        throw std::system_error(error, std::generic_category(), "cannot set up " + state.path);
    }
    try {
        state.acceptor = std::thread([&state] { state.acceptConnections(); });
    } catch (...) {
        state.removeObject();
        throw;
    }
}

DeviceObjectServer::~DeviceObjectServer() {
    state_->stop();
}

const std::string& DeviceObjectServer::path() const {
    return state_->path;
}

}  // namespace crvmon::sim
