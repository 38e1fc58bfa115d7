// The server side of named pipes: CreateNamedPipeW, ConnectNamedPipe, DisconnectNamedPipe.
//
// All instances of one pipe name in this process share an endpoint: the listening socket and
// the thread that accepts on it (pipe_protocol.h). That thread alone decides which instance a
// client gets, under the endpoint's lock, so an instance is taken by exactly one client and a
// client is either given an instance or told the pipe is busy.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "lib/platform/posix/kept_forever.h"
#include "lib/platform/posix/object_names.h"
#include "lib/platform/posix/object_root.h"
#include "lib/platform/posix/pipe_protocol.h"
#include "lib/platform/posix/pipe_stream.h"
#include "lib/platform/posix/system_errors.h"
#include "lib/platform/posix/unix_socket.h"

namespace crvmon::platform {

namespace protocol = pipe_protocol;

namespace {

// Windows uses 50 ms when a server gives no default time-out.
constexpr DWORD kDefaultWaitMs = 50;
// Connections whose hello has not arrived yet; beyond this the oldest are dropped.
constexpr std::size_t kMaxPendingHellos = 256;

class PipeEndpoint;

// A server handle. Listening from its creation, as on Windows, so a client may connect before
// ConnectNamedPipe is called.
class PipeInstance : public PipeHandle {
  public:
    enum class State { Listening, Connected, Disconnected, Closed };

    PipeInstance(std::shared_ptr<PipeEndpoint> endpoint, DWORD pipeType, DWORD readMode)
        : PipeHandle(pipeType, readMode), endpoint_(std::move(endpoint)) {}
    ~PipeInstance() override;

    void closed() override;
    std::shared_ptr<PipeStream> stream(DWORD& error) override;
    DWORD connect();
    DWORD disconnect();

    // Guarded by the endpoint's mutex.
    State state = State::Listening;
    std::shared_ptr<PipeStream> connection;
    std::condition_variable changed;

  private:
    const std::shared_ptr<PipeEndpoint> endpoint_;
};

class PipeEndpoint {
  public:
    PipeEndpoint(std::u16string folded, std::string socketPath, DWORD type, DWORD instanceLimit,
                 DWORD timeout)
        : name(std::move(folded)),
          path(std::move(socketPath)),
          pipeType(type),
          maxInstances(instanceLimit),
          defaultTimeout(timeout) {}
    ~PipeEndpoint() { stop(); }
    PipeEndpoint(const PipeEndpoint&) = delete;
    PipeEndpoint& operator=(const PipeEndpoint&) = delete;

    // Listens and starts accepting. Throws std::system_error (EADDRINUSE: served elsewhere).
    void start();
    // Removes the pipe and ends the accepting thread; clients waiting for an answer see the
    // pipe gone. Called with the registry locked.
    void stop();
    // Wakes the accepting thread to look at the instances again.
    void kick();
    // Takes an instance out; the last one stops the endpoint.
    void release(PipeInstance* instance);

    const std::u16string name;
    const std::string path;
    const DWORD pipeType;
    const DWORD maxInstances;
    const DWORD defaultTimeout;

    std::mutex mutex;
    std::vector<PipeInstance*> instances;  // guarded by mutex; each removes itself before it goes

  private:
    void run();
    void answer(int fd, DWORD error) const;
    void answerHello(Descriptor socket, const protocol::Hello& hello,
                     std::vector<Descriptor>& waiters);
    void answerOpen(Descriptor socket);
    bool anyListening();  // with mutex held

    Descriptor listener_;
    Descriptor wake_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
};

struct Registry {
    std::mutex mutex;
    std::map<std::u16string, std::shared_ptr<PipeEndpoint>> endpoints;
    // Pipes still served when the image unloads or the process ends stay as they are.
    ~Registry() { keepForever(endpoints); }
};

// Built before, and so destroyed after, every static object of the image that serves pipes.
__attribute__((init_priority(101))) Registry pipes;

Registry& registry() {
    return pipes;
}

PipeInstance::~PipeInstance() {
    endpoint_->release(this);
}

void PipeInstance::closed() {
    endpoint_->release(this);
}

std::shared_ptr<PipeStream> PipeInstance::stream(DWORD& error) {
    std::lock_guard lock(endpoint_->mutex);
    switch (state) {
        case State::Connected: return connection;
        case State::Listening: error = ERROR_PIPE_LISTENING; break;
        case State::Disconnected: error = ERROR_PIPE_NOT_CONNECTED; break;
        case State::Closed: error = ERROR_INVALID_HANDLE; break;
    }
    return nullptr;
}

DWORD PipeInstance::connect() {
    std::unique_lock lock(endpoint_->mutex);
    switch (state) {
        case State::Connected: return connection->peerGone() ? ERROR_NO_DATA : ERROR_PIPE_CONNECTED;
        case State::Disconnected:
            state = State::Listening;
            endpoint_->kick();
            break;
        case State::Listening: break;
        case State::Closed: return ERROR_INVALID_HANDLE;
    }
    changed.wait(lock, [this] { return state != State::Listening; });
    switch (state) {
        case State::Connected: return ERROR_SUCCESS;
        case State::Disconnected: return ERROR_PIPE_NOT_CONNECTED;
        default: return ERROR_OPERATION_ABORTED;  // the handle was closed
    }
}

DWORD PipeInstance::disconnect() {
    std::lock_guard lock(endpoint_->mutex);
    switch (state) {
        case State::Connected:
            connection->noticeDisconnect();
            connection->abort(ERROR_PIPE_NOT_CONNECTED);
            connection.reset();
            [[fallthrough]];
        case State::Listening:
            state = State::Disconnected;
            changed.notify_all();
            return ERROR_SUCCESS;
        case State::Disconnected: return ERROR_PIPE_NOT_CONNECTED;
        case State::Closed: break;
    }
    return ERROR_INVALID_HANDLE;
}

void PipeEndpoint::start() {
    objectDirectory("pipe");
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_.valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
    listener_ = listenSeqpacket(path);
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    // Accepting never blocks: a client that gives up between poll and accept costs nothing.
    int flags = fcntl(listener_.get(), F_GETFL);
    if (flags < 0 || fcntl(listener_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        int error = errno;
        stop();
        throw std::system_error(error, std::generic_category(), "cannot set up " + path);
    }
    try {
        acceptor_ = std::thread([this] { run(); });
    } catch (...) {
        stop();
        throw;
    }
}

void PipeEndpoint::stop() {
    if (listener_.valid()) {
        // Only the socket this endpoint bound: a later server may have replaced it.
        struct stat status;
        if (lstat(path.c_str(), &status) == 0 && status.st_dev == device_ &&
            status.st_ino == inode_) {
            unlink(path.c_str());
        }
    }
    if (acceptor_.joinable()) {
        stopping_.store(true);
        kick();
        acceptor_.join();
    }
    listener_.reset();  // clients still in the backlog see the pipe gone
}

void PipeEndpoint::kick() {
    const std::uint64_t one = 1;
    while (write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void PipeEndpoint::release(PipeInstance* instance) {
    std::lock_guard registryLock(registry().mutex);
    {
        std::lock_guard lock(mutex);
        auto found = std::find(instances.begin(), instances.end(), instance);
        if (found == instances.end()) return;
        instances.erase(found);
        instance->state = PipeInstance::State::Closed;
        if (instance->connection) {
            instance->connection->abort(ERROR_OPERATION_ABORTED);
            instance->connection.reset();
        }
        instance->changed.notify_all();
        if (!instances.empty()) return;
    }
    auto& endpoints = registry().endpoints;
    if (auto found = endpoints.find(name);
        found != endpoints.end() && found->second.get() == this) {
        endpoints.erase(found);  // the instance still holds the endpoint
    }
    stop();
}

bool PipeEndpoint::anyListening() {
    return std::any_of(instances.begin(), instances.end(), [](const PipeInstance* instance) {
        return instance->state == PipeInstance::State::Listening;
    });
}

void PipeEndpoint::answer(int fd, DWORD error) const {
    auto frame = protocol::encodeAnswer({error, pipeType, defaultTimeout});
    // A fresh socket always has room for one answer; a client that left needs none.
    sendMessage(fd, frame.data(), frame.size(), MSG_DONTWAIT);
}

void PipeEndpoint::answerOpen(Descriptor socket) {
    std::lock_guard lock(mutex);
    auto found = std::find_if(instances.begin(), instances.end(), [](const PipeInstance* instance) {
        return instance->state == PipeInstance::State::Listening;
    });
    if (found == instances.end()) {
        answer(socket.get(), ERROR_PIPE_BUSY);
        return;
    }
    std::shared_ptr<PipeStream> stream;
    try {
        stream = std::make_shared<PipeStream>(std::move(socket), PipeStream::Side::Server);
    } catch (const std::bad_alloc&) {
        return;  // the client sees the pipe gone and may try again
    }
    auto frame = protocol::encodeAnswer({ERROR_SUCCESS, pipeType, defaultTimeout});
    if (sendMessage(stream->descriptor(), frame.data(), frame.size(), MSG_DONTWAIT) != 0) {
        return;  // the client left before it was answered: the instance stays free
    }
    PipeInstance& instance = **found;
    instance.connection = std::move(stream);
    instance.state = PipeInstance::State::Connected;
    instance.changed.notify_all();
}

void PipeEndpoint::answerHello(Descriptor socket, const protocol::Hello& hello,
                               std::vector<Descriptor>& waiters) {
    // Another pipe whose name hashes to the same socket path.
    if (hello.name != name) {
        answer(socket.get(), ERROR_FILE_NOT_FOUND);
        return;
    }
    if (hello.kind == protocol::HelloKind::Open) {
        answerOpen(std::move(socket));
        return;
    }
    bool free;
    {
        std::lock_guard lock(mutex);
        free = anyListening();
    }
    answer(socket.get(), free ? ERROR_SUCCESS : ERROR_PIPE_BUSY);
    if (!free && hello.kind == protocol::HelloKind::Wait) waiters.push_back(std::move(socket));
}

void PipeEndpoint::run() {
    std::vector<Descriptor> pending;  // accepted, hello not read yet
    std::vector<Descriptor> waiters;  // told busy, to be told when an instance is free
    std::vector<pollfd> watched;
    std::vector<std::uint8_t> frame(protocol::kMaxHelloFrame);
    bool acceptPaused = false;
    for (;;) {
        watched.clear();
        watched.push_back({wake_.get(), POLLIN, 0});
        watched.push_back({acceptPaused ? -1 : listener_.get(), POLLIN, 0});
        for (const Descriptor& socket : pending) watched.push_back({socket.get(), POLLIN, 0});
        for (const Descriptor& socket : waiters) watched.push_back({socket.get(), POLLIN, 0});
        // Out of descriptors or memory: try accepting again a little later.
        if (poll(watched.data(), watched.size(), acceptPaused ? 50 : -1) < 0 && errno != EINTR) {
            acceptPaused = true;
            continue;
        }
        acceptPaused = false;
        if (watched[0].revents != 0) {
            std::uint64_t count;
            while (read(wake_.get(), &count, sizeof count) < 0 && errno == EINTR) {
            }
            if (stopping_.load()) return;  // pending and waiting clients see the pipe gone
        }

        std::vector<Descriptor> stillPending;
        std::vector<Descriptor> stillWaiting;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (watched[2 + i].revents == 0) {
                stillPending.push_back(std::move(pending[i]));
                continue;
            }
            bool truncated = false;
            ssize_t size = receiveMessage(pending[i].get(), frame.data(), frame.size(), truncated,
                                          MSG_DONTWAIT);
            if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                stillPending.push_back(std::move(pending[i]));
                continue;
            }
            if (size <= 0 || truncated) continue;  // gone, or not a client of the stand-in
            auto hello = protocol::decodeHello({frame.data(), static_cast<std::size_t>(size)});
            if (!hello) continue;
            answerHello(std::move(pending[i]), *hello, stillWaiting);
        }
        for (std::size_t i = 0; i < waiters.size(); ++i) {
            // A waiter never sends again: readiness means it gave up.
            if (watched[2 + pending.size() + i].revents == 0) {
                stillWaiting.push_back(std::move(waiters[i]));
            }
        }
        pending = std::move(stillPending);
        waiters = std::move(stillWaiting);

        if (watched[1].revents != 0) {
            for (;;) {
                Descriptor socket(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (socket.valid()) {
                    if (pending.size() == kMaxPendingHellos) pending.erase(pending.begin());
                    pending.push_back(std::move(socket));
                    continue;
                }
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) acceptPaused = true;
                break;
            }
        }

        if (!waiters.empty()) {
            bool free;
            {
                std::lock_guard lock(mutex);
                free = anyListening();
            }
            if (free) {
                for (const Descriptor& socket : waiters) answer(socket.get(), ERROR_SUCCESS);
                waiters.clear();
            }
        }
    }
}

HANDLE failWith(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

DWORD checkModes(DWORD openMode, DWORD pipeMode, DWORD maxInstances) {
    DWORD access = openMode & PIPE_ACCESS_DUPLEX;
    DWORD flags = openMode & ~PIPE_ACCESS_DUPLEX;
    if (access == 0 ||
        (flags &
         ~(FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED)) != 0 ||
        (pipeMode & ~(PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT |
                      PIPE_REJECT_REMOTE_CLIENTS)) != 0 ||
        ((pipeMode & PIPE_READMODE_MESSAGE) != 0 && (pipeMode & PIPE_TYPE_MESSAGE) == 0) ||
        maxInstances == 0 || maxInstances > PIPE_UNLIMITED_INSTANCES) {
        return ERROR_INVALID_PARAMETER;
    }
    // One-way pipes, overlapped I/O and non-blocking mode are not part of the stand-in.
    if (access != PIPE_ACCESS_DUPLEX || (flags & FILE_FLAG_OVERLAPPED) != 0 ||
        (pipeMode & PIPE_NOWAIT) != 0) {
        return ERROR_NOT_SUPPORTED;
    }
    return ERROR_SUCCESS;
}

DWORD startError(const std::system_error& failure) {
    switch (failure.code().value()) {
        case EADDRINUSE: return ERROR_ACCESS_DENIED;  // the pipe is served by another process
        default: return windowsError(failure.code().value());
    }
}

// A new instance, listening, in the endpoint of its name (started when it is the first).
DWORD createInstance(const std::u16string& folded, DWORD openMode, DWORD pipeMode,
                     DWORD maxInstances, DWORD defaultTimeout,
                     std::shared_ptr<PipeInstance>& created) {
    std::string path;
    if (DWORD error = protocol::pipePath(folded, path); error != ERROR_SUCCESS) return error;
    const DWORD pipeType = pipeMode & PIPE_TYPE_MESSAGE;
    std::lock_guard registryLock(registry().mutex);
    auto& endpoints = registry().endpoints;
    std::shared_ptr<PipeEndpoint> endpoint;
    if (auto found = endpoints.find(folded); found != endpoints.end()) {
        endpoint = found->second;
        // Later instances must agree with the first, as on Windows.
        if ((openMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0 ||
            endpoint->maxInstances != maxInstances || endpoint->pipeType != pipeType) {
            return ERROR_ACCESS_DENIED;
        }
        std::lock_guard lock(endpoint->mutex);
        if (maxInstances != PIPE_UNLIMITED_INSTANCES &&
            endpoint->instances.size() >= maxInstances) {
            return ERROR_PIPE_BUSY;
        }
    } else {
        endpoint =
            std::make_shared<PipeEndpoint>(folded, path, pipeType, maxInstances,
                                           defaultTimeout == 0 ? kDefaultWaitMs : defaultTimeout);
        try {
            endpoint->start();
        } catch (const std::system_error& failure) {
            return startError(failure);
        }
        endpoints.emplace(folded, endpoint);
    }
    // Nothing may throw once the instance exists: its destructor takes the registry's lock.
    std::shared_ptr<PipeInstance> instance;
    try {
        {
            std::lock_guard lock(endpoint->mutex);
            endpoint->instances.reserve(endpoint->instances.size() + 1);
        }
        instance =
            std::make_shared<PipeInstance>(endpoint, pipeType, pipeMode & PIPE_READMODE_MESSAGE);
    } catch (const std::bad_alloc&) {
        bool unused;
        {
            std::lock_guard lock(endpoint->mutex);
            unused = endpoint->instances.empty();
        }
        if (unused) {
            endpoints.erase(folded);
            endpoint->stop();
        }
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    {
        std::lock_guard lock(endpoint->mutex);
        endpoint->instances.push_back(instance.get());
    }
    endpoint->kick();
    created = std::move(instance);
    return ERROR_SUCCESS;
}

std::shared_ptr<PipeInstance> lookupInstance(HANDLE pipe) {
    auto object = HandleTable::instance().lookup<KernelObject>(pipe);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto instance = std::dynamic_pointer_cast<PipeInstance>(object);
    // A client handle, or no pipe at all.
    if (!instance) SetLastError(ERROR_INVALID_FUNCTION);
    return instance;
}

}  // namespace

}  // namespace crvmon::platform

using namespace crvmon::platform;

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD,
                        DWORD, DWORD defaultTimeOut, LPSECURITY_ATTRIBUTES) {
    if (name == nullptr) return failWith(ERROR_INVALID_PARAMETER);
    if (DWORD error = checkModes(openMode, pipeMode, maxInstances); error != ERROR_SUCCESS) {
        return failWith(error);
    }
    try {
        auto units = object_names::toUtf16(name);
        std::u16string folded;
        if (!units) return failWith(ERROR_INVALID_NAME);
        if (DWORD error = pipe_protocol::parsePipeName(*units, folded); error != ERROR_SUCCESS) {
            return failWith(error);
        }
        std::shared_ptr<PipeInstance> instance;
        if (DWORD error =
                createInstance(folded, openMode, pipeMode, maxInstances, defaultTimeOut, instance);
            error != ERROR_SUCCESS) {
            return failWith(error);
        }
        HANDLE handle = HandleTable::instance().insert(instance);
        if (handle == nullptr) {
            instance->closed();
            return failWith(ERROR_NOT_ENOUGH_MEMORY);
        }
        return handle;
    } catch (const std::bad_alloc&) {
        return failWith(ERROR_NOT_ENOUGH_MEMORY);
    }
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped) {
    auto instance = lookupInstance(pipe);
    if (!instance) return FALSE;
    if (overlapped != nullptr) return finish(ERROR_NOT_SUPPORTED);
    return finish(instance->connect());
}

BOOL DisconnectNamedPipe(HANDLE pipe) {
    auto instance = lookupInstance(pipe);
    if (!instance) return FALSE;
    return finish(instance->disconnect());
}
