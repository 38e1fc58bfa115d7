// Several threads read every value of every device of a busy machine for a while, through the
// flat functions as a monitoring tool does, while faults are injected all along: the host
// service restarted (sometimes with too few pipe instances for the readers, or ending every
// connection after a few requests), its replies cut, padded or dropped with their connection,
// and the Orvek driver's requests failed or shortened (on Linux; the kernel-mode driver of the
// Windows build answers by itself). The clock stands still, so every value stays what it was
// before the faults began. Checks:
// - every value read is either that value or missing with a failing status: no wrong values;
// - once the faults stop, every device reads whole again;
// - after shutdown, open descriptors (handles) and allocated memory are back where they were.
// The environment's CRVMON_SOAK_SECONDS sets the time with faults (default: the build's),
// CRVMON_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/model/veltara_device_model.h"
#include "sim/orvek/simulated_orvek_driver.h"
#include "sim/veltara/veltara_host_service.h"
#include "tests/support/open_handle_count.h"
#include "tools/common/device_id.h"
#include "tools/common/device_json.h"
#include "tools/common/device_sample.h"
#include "tools/common/field_catalogue.h"
#include "tools/common/process_names.h"
#if !defined(_WIN32)
#include "tests/support/private_object_root.h"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtimes export it; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define CRVMON_SANITIZER_ALLOCATOR 1
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace crvmon::soak {
namespace {

using namespace std::chrono_literals;
using tools::DeviceId;
using tools::DeviceSample;

// The faults the soak injects, drawn from one seeded generator and counted. Called on the
// simulators' threads.
class FaultPlan {
  public:
    // `oneIn`: a reply is altered with a chance of one in this many.
    FaultPlan(std::uint64_t seed, unsigned oneIn) : random_(seed), oneIn_(oneIn) {}

    void setActive(bool active) { active_.store(active); }
    bool active() const { return active_.load(); }
    std::uint32_t draw(std::uint32_t bound) {
        std::lock_guard lock(mutex_);
        return static_cast<std::uint32_t>(random_() % bound);
    }

    void orvek(std::vector<std::uint8_t>& output, std::uint32_t& error) {
        if (!active() || draw(oneIn_) != 0) return;
        if (draw(2) == 0 || output.empty()) {
            error = 31;  // ERROR_GEN_FAILURE
            ++orvekFailed;
        } else {
            output.resize(draw(static_cast<std::uint32_t>(output.size())));
            ++orvekShortened;
        }
    }

    void veltara(sim::VeltaraReply& reply) {
        if (!active() || reply.kind != sim::VeltaraReply::Kind::Send || draw(oneIn_) != 0) return;
        switch (draw(3)) {
            case 0:
                if (reply.bytes.empty()) return;
                reply.bytes.resize(draw(static_cast<std::uint32_t>(reply.bytes.size())));
                ++veltaraCut;
                break;
            case 1:
                reply.bytes.resize(reply.bytes.size() + 1 + draw(64), 0);
                ++veltaraPadded;
                break;
            default:  // the service drops the connection
                reply.kind = sim::VeltaraReply::Kind::Malformed;
                ++veltaraDropped;
                break;
        }
    }

    std::atomic<long> orvekFailed{0}, orvekShortened{0}, veltaraCut{0}, veltaraPadded{0},
        veltaraDropped{0}, serviceRestarts{0};

  private:
    std::mutex mutex_;  // guards random_
    std::mt19937_64 random_;
    const unsigned oneIn_;
    std::atomic<bool> active_{false};
};

// What a leak would raise: open descriptors (Linux) or file and section handles (Windows), and
// the bytes allocated where the allocator can tell (the sanitizers' allocators, or glibc's).
struct ResourceLevel {
    int handles = 0;
    std::optional<long long> bytes;

    static ResourceLevel now() {
        ResourceLevel level;
        level.handles = openHandleCount();
#if defined(CRVMON_SANITIZER_ALLOCATOR)
        level.bytes = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__)
        level.bytes = static_cast<long long>(mallinfo2().uordblks);
#endif
        return level;
    }
};

long environmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

// The values of a read, keyed by field, without the time it was made.
nlohmann::ordered_json valuesOf(const DeviceSample& sample) {
    static const std::vector<const tools::Field*> all = tools::parseFieldList("all");
    nlohmann::ordered_json values = tools::deviceJson(sample, all);
    values.erase("timestamp");
    return values;
}

// What the readers saw, against the values read before the faults began.
class Tally {
  public:
    void compare(const nlohmann::ordered_json& expected, const DeviceSample& sample) {
        const nlohmann::ordered_json got = valuesOf(sample);
        long values = 0;
        long missing = 0;
        for (const auto& [key, want] : expected.items()) {
            const auto found = got.find(key);
            const bool present = found != got.end() && !found->is_null();
            if (want.is_null()) {
                if (present)
                    wrong(sample, key, "a value the device does not have: " + found->dump());
                continue;
            }
            ++values;
            if (!present) {
                ++missing;
            } else if (*found != want) {
                wrong(sample, key, found->dump() + " instead of " + want.dump());
            }
        }
        // A value is missing only when its getter failed: readDevice keeps none otherwise.
        reads_ += values;
        failures_ += missing;
    }

    long reads() const { return reads_; }
    long failures() const { return failures_; }
    long wrongValues() const { return wrong_; }

  private:
    // The first ten fail the test by name; the count says how many more.
    void wrong(const DeviceSample& sample, const std::string& key, const std::string& what) {
        if (++wrong_ <= 10)
            ADD_FAILURE() << tools::formatDeviceId(sample.id) << " " << key << ": " << what;
    }

    std::atomic<long> reads_{0}, failures_{0}, wrong_{0};
};

// The simulated machine: the Orvek driver for the whole run, the host service restartable.
class Machine {
  public:
    Machine(const sim::Scenario& scenario, FaultPlan& faults)
        : scenario_(scenario), names_(scenario_), faults_(faults) {
        sim::OrvekReplyFilter orvekFilter;
#if !defined(_WIN32)
        orvekFilter = [this](int, std::uint32_t, std::vector<std::uint8_t>& output,
                             std::uint32_t& error) { faults_.orvek(output, error); };
#endif
        orvek_ = std::make_unique<sim::SimulatedOrvekDriver>(scenario_.orvekCards, clock_,
                                                             std::move(orvekFilter));
        startService(scenario_.veltaraService, scenario_.veltaraDevices);
    }

    ~Machine() {
        stopService();
        orvek_.reset();
    }

    // Stops the service, leaves it down a moment, and starts it again: with the faults on, with
    // too few instances for every reader, or ending connections after a few requests.
    void restartService() {
        stopService();
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + faults_.draw(100)));
        sim::VeltaraServiceConfig service = scenario_.veltaraService;
        std::vector<sim::VeltaraDeviceConfig> devices = scenario_.veltaraDevices;
        if (faults_.active()) {
            ++faults_.serviceRestarts;
            if (faults_.draw(3) == 0) service.pipeInstances = 2;
            if (faults_.draw(3) == 0) {
                for (auto& device : devices) device.faults.brokenAfterRequests = 5;
            }
        }
        startService(service, devices);
    }

  private:
    void startService(const sim::VeltaraServiceConfig& service,
                      const std::vector<sim::VeltaraDeviceConfig>& devices) {
        std::lock_guard lock(mutex_);
        veltara_ = std::make_unique<sim::VeltaraHostService>(
            devices, service, clock_,
            [this](std::wstring_view, std::span<const std::uint8_t>, sim::VeltaraReply& reply) {
                faults_.veltara(reply);
            });
    }
    void stopService() {
        std::lock_guard lock(mutex_);
        veltara_.reset();
    }

    const sim::Scenario scenario_;
    // As a tool serving this machine names its processes: made-up pids must not take the name
    // of whatever process of this machine has the same id.
    const tools::ScenarioProcessNames names_;
    FaultPlan& faults_;
    sim::ManualSimClock clock_;  // never advanced: the values do not change
    std::unique_ptr<sim::SimulatedOrvekDriver> orvek_;
    std::mutex mutex_;
    std::unique_ptr<sim::VeltaraHostService> veltara_;
};

// Reads every value of a device. Calls on one Orvek card must not overlap, and two process
// lists of one Veltara device at once would mix their snapshots: those take the device's lock.
class Reader {
  public:
    explicit Reader(const std::vector<DeviceId>& devices) {
        for (const DeviceId& id : devices) locks_[tools::formatDeviceId(id)];
    }

    DeviceSample read(const DeviceId& id) {
        std::mutex& lock = locks_.at(tools::formatDeviceId(id));
        if (tools::familyOf(id.type) == tools::Family::Orvek) {
            std::lock_guard hold(lock);
            return tools::readDevice(id, tools::kReadEverything);
        }
        DeviceSample sample =
            tools::readDevice(id, tools::kReadEverything & ~tools::kReadProcesses);
        std::lock_guard hold(lock);
        DeviceSample processes = tools::readDevice(id, tools::kReadProcesses);
        sample.processes = std::move(processes.processes);
        sample.errors.insert(sample.errors.end(), processes.errors.begin(), processes.errors.end());
        return sample;
    }

  private:
    std::map<std::string, std::mutex> locks_;  // filled before the readers start
};

// On Linux the simulation serves under an object root of the test's own; on Windows in the
// machine's namespace, which the test has to itself.
#if defined(_WIN32)
using FaultSoak = ::testing::Test;
#else
using FaultSoak = testing::PrivateObjectRoot;
#endif

TEST_F(FaultSoak, ValuesAreRightOrFailedAndEverythingRecovers) {
    const long seconds = environmentNumber("CRVMON_SOAK_SECONDS", CRVMON_SOAK_DEFAULT_SECONDS);
    const auto seed = static_cast<std::uint64_t>(
        environmentNumber("CRVMON_SOAK_SEED", static_cast<long>(std::random_device{}() >> 1)));
    std::printf("fault soak: %ld s, seed %llu (CRVMON_SOAK_SEED=%llu repeats it)\n", seconds,
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));

    FaultPlan faults(seed, 25);
    Machine machine(sim::builtInScenario(), faults);
    std::vector<DeviceId> devices;
    std::map<std::string, nlohmann::ordered_json> expected;

    // A first round warms up what the library and the C++ runtime keep for good; the levels
    // are taken after it.
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(crvmonInit(), CRVMON_STATUS_OK);
        devices = tools::listDevices().devices;
        ASSERT_EQ(devices.size(), 4u);
        Reader reader(devices);
        for (const DeviceId& id : devices) {
            const DeviceSample sample = reader.read(id);
            ASSERT_TRUE(sample.errors.empty()) << tools::formatDeviceId(id);
            expected[tools::formatDeviceId(id)] = valuesOf(sample);
        }
        ASSERT_EQ(crvmonShutdown(), CRVMON_STATUS_OK);
    }
    const ResourceLevel before = ResourceLevel::now();

    ASSERT_EQ(crvmonInit(), CRVMON_STATUS_OK);
    Reader reader(devices);
    Tally tally;
    std::atomic<bool> stop{false};
    faults.setActive(true);
    std::vector<std::thread> readers;
    for (int thread = 0; thread < 4; ++thread) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                for (const DeviceId& id : devices) {
                    tally.compare(expected.at(tools::formatDeviceId(id)), reader.read(id));
                }
            }
        });
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500 + faults.draw(1500)));
        machine.restartService();
    }
    faults.setActive(false);
    machine.restartService();  // as it was: enough instances, no broken connections
    stop.store(true);
    for (std::thread& thread : readers) thread.join();

    std::printf(
        "fault soak: %ld values read, %ld failed with a status, %ld wrong; faults injected: "
        "Orvek failed %ld, shortened %ld; Veltara cut %ld, padded %ld, dropped %ld; "
        "service restarts %ld\n",
        tally.reads(), tally.failures(), tally.wrongValues(), faults.orvekFailed.load(),
        faults.orvekShortened.load(), faults.veltaraCut.load(), faults.veltaraPadded.load(),
        faults.veltaraDropped.load(), faults.serviceRestarts.load());
    EXPECT_EQ(tally.wrongValues(), 0);
    EXPECT_GT(tally.failures(), 0) << "the faults reached no reader";
    EXPECT_GT(tally.reads(), tally.failures());

    // Recovery: within a few seconds of the faults stopping, every device reads whole.
    for (const DeviceId& id : devices) {
        const std::string name = tools::formatDeviceId(id);
        DeviceSample sample;
        for (int attempt = 0; attempt < 50; ++attempt) {
            sample = reader.read(id);
            if (sample.errors.empty()) break;
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(sample.errors.empty()) << name << " did not recover";
        EXPECT_EQ(valuesOf(sample), expected.at(name)) << name;
    }
    ASSERT_EQ(crvmonShutdown(), CRVMON_STATUS_OK);

    // The service's threads may still be closing a connection the readers left: a leak stays,
    // that settles within moments.
    ResourceLevel after = ResourceLevel::now();
    for (int wait = 0; wait < 20 && after.handles > before.handles; ++wait) {
        std::this_thread::sleep_for(100ms);
        after = ResourceLevel::now();
    }
    EXPECT_LE(after.handles, before.handles) << "open descriptors or handles left behind";
    if (before.bytes && after.bytes) {
        // Some slack for the runtime's own lazily grown tables; a leak per read would be far
        // more after tens of thousands of reads.
        EXPECT_LE(*after.bytes, *before.bytes + 256 * 1024)
            << "allocated memory grew from " << *before.bytes << " to " << *after.bytes;
    }
}

}  // namespace
}  // namespace crvmon::soak
