// The host-service client against scripted pipes: its retries on the stand-in's virtual clock,
// what it writes byte for byte, replies the simulated service never gives, and a pool shared by
// more threads than it holds. What the simulated service can play (breaking instances, faulty
// replies, a late or busy service) is tested through crvmonInit in veltara_simulated_test.cpp.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib/common/little_endian.h"
#include "lib/veltara/client/client_log.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/pipe_transport.h"
#include "lib/veltara/client/veltara_client.h"
#include "sim/veltara/pipe_server.h"
#include "tests/support/private_object_root.h"
#include "tests/support/virtual_clock.h"

namespace crvmon::veltara {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::PipeServer;
using sim::VeltaraReply;

Bytes le32(std::uint32_t value) {
    Bytes b(4);
    store32(b.data(), value);
    return b;
}

// A device-list reply: the count, then each (dev_no, name) entry of 68 bytes.
Bytes deviceList(std::uint32_t count,
                 const std::vector<std::pair<std::int32_t, std::string>>& entries) {
    Bytes reply = le32(count);
    for (const auto& [devNo, name] : entries) {
        Bytes entry(68, 0);
        store32(entry.data(), static_cast<std::uint32_t>(devNo));
        std::memcpy(entry.data() + 4, name.data(), std::min<std::size_t>(name.size(), 64));
        reply.insert(reply.end(), entry.begin(), entry.end());
    }
    return reply;
}

// A pipe whose every request is answered by a script, and which keeps what it was sent.
class ScriptedPipe {
  public:
    using Script = std::function<VeltaraReply(const Bytes& request)>;

    ScriptedPipe(const std::wstring& name, std::uint32_t instances, Script script)
        : script_(std::move(script)),
          server_({name, instances, 0, 1 << 16}, [this](std::span<const std::uint8_t> request) {
              Bytes copy(request.begin(), request.end());
              {
                  std::lock_guard<std::mutex> lock(mutex_);
                  requests_.push_back(copy);
              }
              return script_(copy);
          }) {}

    std::vector<Bytes> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    Script script_;
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
    PipeServer server_;
};

VeltaraReply send(Bytes bytes) {
    return {VeltaraReply::Kind::Send, std::move(bytes)};
}

class HostClientTest : public testing::PrivateObjectRoot {
  protected:
    void TearDown() override {
        setClientLogLevel(0);
        testing::PrivateObjectRoot::TearDown();
    }

    // A broker listing one device, "dev7" with number 7, whose pipe answers by `script`.
    std::unique_ptr<ScriptedPipe> serveDevice(ScriptedPipe::Script script) {
        broker_ = std::make_unique<ScriptedPipe>(L"\\\\.\\pipe\\veltara", 2, [](const Bytes&) {
            return send(deviceList(1, {{7, "dev7"}}));
        });
        return std::make_unique<ScriptedPipe>(L"\\\\.\\pipe\\veltara_dev7", 40, std::move(script));
    }

    std::unique_ptr<ScriptedPipe> broker_;
};

TEST_F(HostClientTest, ConnectRetriesWhileThePipeIsMissingOrBusyAndGivesUpOnOtherErrors) {
    {
        testing::VirtualClock clock;
        EXPECT_EQ(connect_pipe(L"\\\\.\\pipe\\nobody"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(clock.pipeOpens().size(), 51u);
        EXPECT_EQ(clock.sleeps(), std::vector<DWORD>(50, 10));
        EXPECT_TRUE(clock.pipeWaits().empty());
    }
    {
        // One instance, taken: every attempt finds it busy and waits 2 s for it.
        ScriptedPipe busy(L"\\\\.\\pipe\\busy", 1, [](const Bytes&) { return send(le32(0)); });
        HANDLE taken = connect_pipe(L"\\\\.\\pipe\\busy");
        ASSERT_NE(taken, INVALID_HANDLE_VALUE);
        testing::VirtualClock clock;
        EXPECT_EQ(connect_pipe(L"\\\\.\\pipe\\busy"), INVALID_HANDLE_VALUE);
        const auto waits = clock.pipeWaits();
        ASSERT_EQ(waits.size(), 200u);
        for (const auto& wait : waits) EXPECT_EQ(wait.timeout, 2000u);
        EXPECT_EQ(clock.sleeps(), std::vector<DWORD>(200, 10));
        EXPECT_EQ(clock.elapsedMs(), 200u * 2010u);
        CloseHandle(taken);
    }
    {
        testing::VirtualClock clock;
        EXPECT_EQ(connect_pipe(L"\\\\.\\pipe\\bad/name"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(clock.pipeOpens().size(), 1u);
        EXPECT_TRUE(clock.sleeps().empty());
    }
}

TEST_F(HostClientTest, DeviceListsAreBoundedByTheCallersArrayTheBufferAndTheReply) {
    Bytes reply;
    ScriptedPipe broker(L"\\\\.\\pipe\\veltara", 1, [&](const Bytes&) { return send(reply); });
    std::vector<veltara_device_entry> entries(80);

    std::vector<std::pair<std::int32_t, std::string>> seventy;
    for (int i = 0; i < 70; ++i) seventy.push_back({100 + i, "d" + std::to_string(i)});
    reply = deviceList(70, seventy);
    EXPECT_EQ(veltara_list_devices(entries.data(), 80), 64);
    EXPECT_EQ(entries[63].dev_no, 163);
    EXPECT_STREQ(entries[63].name, "d63");
    EXPECT_EQ(veltara_list_devices(entries.data(), 10), 10);
    // Without an array, the count as the service reports it.
    EXPECT_EQ(veltara_list_devices(nullptr, 64), 70);
    EXPECT_EQ(veltara_list_devices(entries.data(), 0), 70);

    // A name of 64 bytes without NUL arrives as its first 63 and a NUL.
    reply = deviceList(1, {{3, std::string(64, 'x')}});
    EXPECT_EQ(veltara_list_devices(entries.data(), 64), 1);
    EXPECT_EQ(std::string(entries[0].name), std::string(63, 'x'));
    // More counted than sent, the last record cut: only whole records sent are copied.
    reply = deviceList(3, {{5, "five"}, {6, "six"}});
    reply.resize(reply.size() - 1);
    std::memset(entries.data(), 0x55, entries.size() * sizeof entries[0]);
    EXPECT_EQ(veltara_list_devices(entries.data(), 64), 1);
    EXPECT_EQ(entries[0].dev_no, 5);
    EXPECT_EQ(entries[1].dev_no, 0x55555555);
    // A count beyond the result's range stays a count, not a failure.
    reply = le32(0xFFFFFFFF);
    EXPECT_EQ(veltara_list_devices(nullptr, 0), 0x7FFFFFFF);
    EXPECT_EQ(veltara_list_devices(entries.data(), 64), 0);
    for (const Bytes& tooShort : {Bytes{1, 0, 0}, Bytes{}}) {
        reply = tooShort;
        EXPECT_EQ(veltara_list_devices(entries.data(), 64), -4);
    }
    // Every exchange is one request: the value 1.
    for (const Bytes& request : broker.requests()) EXPECT_EQ(request, le32(1));
}

TEST_F(HostClientTest, ThirtyThreeThreadsShareAPoolOfThirtyTwo) {
    // Every request waits until all 33 are in flight, so 33 instances are on loan at once.
    std::mutex mutex;
    std::condition_variable arrived;
    int inFlight = 0;
    Bytes reply = le32(0xBEEF);
    auto device = serveDevice([&](const Bytes&) {
        std::unique_lock<std::mutex> lock(mutex);
        ++inFlight;
        arrived.notify_all();
        arrived.wait_for(lock, std::chrono::seconds(20), [&] { return inFlight >= 33; });
        return send(reply);
    });
    VeltaraClient* client = veltara_open(7);
    ASSERT_NE(client, nullptr);
    ASSERT_EQ(client->idlePipeCount(), 32u);

    std::vector<std::thread> threads;
    std::vector<std::int32_t> results(33, 1);
    for (int t = 0; t < 33; ++t) {
        threads.emplace_back([&, t] { results[t] = veltara_ioctl(client, 0x00005214, nullptr); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(results, std::vector<std::int32_t>(33, 0));
    // One thread found the pool empty and added an instance of its own.
    EXPECT_EQ(client->idlePipeCount(), 33u);
    // Read in message mode like the others: on each instance in turn a reply longer than its
    // command's fails, instead of leaving its rest for the next command.
    const auto answer = [&](Bytes bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        reply = std::move(bytes);
    };
    answer(Bytes(8, 0xEF));
    for (int i = 0; i < 33; ++i) EXPECT_EQ(veltara_ioctl(client, 0x00005214, nullptr), -6) << i;
    answer(le32(0xBEEF));
    for (int i = 0; i < 33; ++i) EXPECT_EQ(veltara_ioctl(client, 0x00005214, nullptr), 0) << i;
    veltara_close(client);
}

}  // namespace
}  // namespace crvmon::veltara
