#include "sim/veltara/pipe_server.h"

#include <atomic>
#include <stdexcept>
#include <string>

#include "sim/veltara/io_interrupt.h"

namespace crvmon::sim {
namespace {

// Room for a monitor-info reply many times over; a reply never waits for buffer space.
constexpr DWORD kOutBufferSize = 1 << 17;
constexpr DWORD kInBufferSize = 1 << 15;

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace

struct PipeServer::Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    bool pipeClosed = false;  // by the interrupt
    IoInterrupt interrupt;
    std::atomic<bool> finished{false};
    std::thread thread;
};

PipeServer::PipeServer(Options options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {
    // PIPE_WAIT is 0, as in Win32: named for the reader.
    // cppcheck-suppress badBitmaskCheck
    const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    for (std::uint32_t i = 0; i < options_.instances; ++i) {
        // The first instance must be new: a second service on the same name is an error.
        const DWORD openMode = PIPE_ACCESS_DUPLEX | (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        HANDLE pipe =
            CreateNamedPipeW(options_.name.c_str(), openMode, pipeMode, options_.instances,
                             kOutBufferSize, kInBufferSize, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            for (auto& made : instances_) CloseHandle(made->pipe);
            throw std::runtime_error("cannot create instance " + std::to_string(i + 1) +
                                     " of pipe " + narrow(options_.name) + ": error " +
                                     std::to_string(error));
        }
        auto instance = std::make_unique<Instance>();
        instance->pipe = pipe;
        instances_.push_back(std::move(instance));
    }
    try {
        for (auto& instance : instances_) {
            instance->thread = std::thread([this, raw = instance.get()] { serve(*raw); });
        }
    } catch (...) {
        stop();
        throw;
    }
}

PipeServer::~PipeServer() {
    stop();
}

void PipeServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    release();

    // A thread may block again right after an interrupt: repeat until each has ended.
    for (;;) {
        bool all = true;
        for (auto& instance : instances_) {
            if (instance->finished.load() || !instance->thread.joinable()) continue;
            all = false;
            if (!instance->pipeClosed) {
                instance->pipeClosed = instance->interrupt.interrupt(instance->pipe);
            }
        }
        if (all) break;
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(2));
    }
    for (auto& instance : instances_) {
        if (instance->thread.joinable()) instance->thread.join();
        if (!instance->pipeClosed) CloseHandle(instance->pipe);
    }
    instances_.clear();
}

bool PipeServer::stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void PipeServer::waitForStop(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    if (pause.count() == 0) {
        changed_.wait(lock, [this] { return stopping_; });
    } else {
        changed_.wait_for(lock, pause, [this] { return stopping_; });
    }
}

void PipeServer::hold() {
    // Connecting needs no lock; a serving thread may want it meanwhile.
    std::vector<HANDLE> taken;
    for (std::size_t i = 0; i < instances_.size(); ++i) {
        HANDLE pipe = CreateFileW(options_.name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) break;  // clients hold the others
        taken.push_back(pipe);
    }
    std::unique_lock lock(mutex_);
    if (stopping_) {
        lock.unlock();
        for (HANDLE pipe : taken) CloseHandle(pipe);
        return;
    }
    held_.insert(held_.end(), taken.begin(), taken.end());
}

void PipeServer::release() {
    std::vector<HANDLE> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(held_);
    }
    for (HANDLE pipe : held) CloseHandle(pipe);
}

void PipeServer::serve(Instance& instance) {
    instance.interrupt.attachCurrentThread();
    while (!stopping()) {
        bool connected = ConnectNamedPipe(instance.pipe, nullptr) != FALSE;
        const DWORD error = connected ? ERROR_SUCCESS : GetLastError();
        connected = connected || error == ERROR_PIPE_CONNECTED;
        // Another thread stops the server while ConnectNamedPipe waits.
        // cppcheck-suppress knownConditionTrueFalse
        if (stopping()) break;
        if (connected) {
            serveConnection(instance);
        } else if (error != ERROR_NO_DATA) {
            // Not a client that came and went: do not spin on a failing instance.
            waitForStop(std::chrono::milliseconds(10));
        }
        DisconnectNamedPipe(instance.pipe);
    }
    instance.finished.store(true);
    {
        std::lock_guard lock(mutex_);  // so that the destructor's wait cannot miss the news
    }
    changed_.notify_all();
}

void PipeServer::serveConnection(Instance& instance) {
    std::vector<std::uint8_t> request(options_.maxRequest);
    std::uint32_t served = 0;
    for (;;) {
        DWORD got = 0;
        // Fails when the client has left, the request is longer than any (ERROR_MORE_DATA),
        // or the server stops.
        if (!ReadFile(instance.pipe, request.data(), static_cast<DWORD>(request.size()), &got,
                      nullptr)) {
            return;
        }
        if (stopping()) return;

        VeltaraReply reply;
        try {
            reply = handler_(std::span<const std::uint8_t>(request.data(), got));
        } catch (...) {
            return;  // nothing sensible to answer: end the connection
        }
        switch (reply.kind) {
            case VeltaraReply::Kind::Malformed: return;
            case VeltaraReply::Kind::Withhold: waitForStop(std::chrono::milliseconds(0)); return;
            case VeltaraReply::Kind::None: break;
            case VeltaraReply::Kind::Send: {
                static const std::uint8_t kNothing = 0;
                const std::uint8_t* bytes = reply.bytes.empty() ? &kNothing : reply.bytes.data();
                const auto length = static_cast<DWORD>(reply.bytes.size());
                DWORD put = 0;
                if (!WriteFile(instance.pipe, bytes, length, &put, nullptr) || put != length) {
                    return;
                }
                break;
            }
        }
        if (options_.requestsPerConnection != 0 && ++served >= options_.requestsPerConnection) {
            // Windows drops unread data at the disconnect: let the client have its reply.
            FlushFileBuffers(instance.pipe);
            return;
        }
    }
}

}  // namespace crvmon::sim
