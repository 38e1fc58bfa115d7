#include "tests/support/virtual_clock.h"

#include <mutex>
#include <stdexcept>
#include <string_view>

#include "lib/platform/posix/wait_hook.h"

namespace crvmon::testing {

namespace {

// Never destroyed: threads may still wait while the process exits.
class Recorder final : public platform::WaitHook {
  public:
    static Recorder& instance() {
        static auto* recorder = new Recorder;
        return *recorder;
    }

    void start() {
        std::lock_guard lock(mutex_);
        if (running_) throw std::logic_error("a virtual clock is already running");
        records_ = Records{};
        running_ = true;
        platform::installWaitHook(this);
    }

    void stop() {
        std::lock_guard lock(mutex_);
        platform::installWaitHook(nullptr);
        running_ = false;
    }

    void slept(DWORD milliseconds) override {
        std::lock_guard lock(mutex_);
        records_.elapsed += milliseconds;
        records_.sleeps.push_back(milliseconds);
    }
    void waitTimedOut(DWORD milliseconds) override {
        std::lock_guard lock(mutex_);
        records_.elapsed += milliseconds;
    }
    void pipeOpened(std::wstring_view name, DWORD error) override {
        std::lock_guard lock(mutex_);
        records_.opens.push_back({std::wstring(name), error});
    }
    void pipeWaited(std::wstring_view name, DWORD timeout, DWORD error) override {
        std::lock_guard lock(mutex_);
        records_.waits.push_back({std::wstring(name), timeout, error});
    }
    void endlessWait() override {
        std::lock_guard lock(mutex_);
        ++records_.endlessWaits;
    }

    struct Records {
        std::uint64_t elapsed = 0;
        std::vector<DWORD> sleeps;
        std::vector<PipeOpenRecord> opens;
        std::vector<PipeWaitRecord> waits;
        int endlessWaits = 0;
    };

    Records records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

  private:
    std::mutex mutex_;
    bool running_ = false;
    Records records_;
};

}  // namespace

VirtualClock::VirtualClock() {
    Recorder::instance().start();
}

VirtualClock::~VirtualClock() {
    Recorder::instance().stop();
}

std::uint64_t VirtualClock::elapsedMs() const {
    return Recorder::instance().records().elapsed;
}

std::vector<DWORD> VirtualClock::sleeps() const {
    return Recorder::instance().records().sleeps;
}

std::vector<PipeOpenRecord> VirtualClock::pipeOpens() const {
    return Recorder::instance().records().opens;
}

std::vector<PipeWaitRecord> VirtualClock::pipeWaits() const {
    return Recorder::instance().records().waits;
}

int VirtualClock::endlessWaits() const {
    return Recorder::instance().records().endlessWaits;
}

}  // namespace crvmon::testing
