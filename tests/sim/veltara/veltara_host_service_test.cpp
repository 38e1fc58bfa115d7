// The host service over the platform's real named pipes, through a small client made of the
// kernel32 calls: the device list, commands, and each fault a scenario can ask for.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lib/platform/win32.h"
#include "sim/model/scenario.h"
#include "sim/veltara/veltara_host_service.h"

#if defined(_WIN32)
// The pipe names are the machine's: CTest runs these tests one at a time (RESOURCE_LOCK).
using ServiceTestBase = ::testing::Test;
#else
#include "tests/support/private_object_root.h"
using ServiceTestBase = crvmon::testing::PrivateObjectRoot;
#endif

namespace crvmon::sim::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::wstring kBroker = L"\\\\.\\pipe\\veltara";

std::wstring pipeOf(const std::string& name) {
    return VeltaraHostService::devicePipeName(name);
}

Bytes code(std::uint32_t value, std::size_t payload = 0) {
    Bytes bytes{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    bytes.resize(4 + payload);
    return bytes;
}

// One connection, in message read mode as the library's; `error` keeps the last failure and
// `partial` what a read that failed with ERROR_MORE_DATA got.
struct Pipe {
    explicit Pipe(const std::wstring& name)
        : handle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr)) {
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!open() || !SetNamedPipeHandleState(handle, &mode, nullptr, nullptr)) {
            error = GetLastError();
        }
    }
    ~Pipe() {
        if (open()) CloseHandle(handle);
    }
    bool open() const { return handle != INVALID_HANDLE_VALUE; }
    bool send(const Bytes& bytes) {
        DWORD put = 0;
        return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
               put == bytes.size();
    }
    std::optional<Bytes> receive(DWORD capacity = 8192) {
        Bytes bytes(capacity);
        DWORD got = 0;
        const bool ok = ReadFile(handle, bytes.data(), capacity, &got, nullptr);
        bytes.resize(got);
        if (ok) return bytes;
        error = GetLastError();
        partial = std::move(bytes);
        return std::nullopt;
    }
    std::optional<Bytes> exchange(const Bytes& request, DWORD capacity = 8192) {
        return send(request) ? receive(capacity) : std::nullopt;
    }

    HANDLE handle;
    DWORD error = 0;
    Bytes partial;
};

// Waits, boundedly, for a pipe that the service brings up or frees after the clock moved.
bool becomesAvailable(const std::wstring& name) {
    for (int i = 0; i < 1000; ++i) {
        if (WaitNamedPipeW(name.c_str(), 20)) return true;
        Sleep(5);
    }
    return false;
}

class HostService : public ServiceTestBase {
  protected:
    void TearDown() override {
        service.reset();
        ServiceTestBase::TearDown();
    }
    void start() { service = std::make_unique<VeltaraHostService>(devices, settings, clock); }

    ManualSimClock clock;
    std::vector<VeltaraDeviceConfig> devices = std::vector<VeltaraDeviceConfig>(1);
    VeltaraServiceConfig settings;
    std::unique_ptr<VeltaraHostService> service;
};

TEST_F(HostService, ListsDevicesAndAnswersCommandsWithASection) {
    devices[0].devNo = 3;
    devices[0].processes = {{42, 1, 2}};
    start();
    const auto list = Pipe(kBroker).exchange({1, 0, 0, 0}, 4356);
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 72u);
    EXPECT_EQ(Bytes(list->begin(), list->begin() + 12),
              (Bytes{1, 0, 0, 0, 3, 0, 0, 0, 'u', 's', 'b', '0'}));

    Pipe device(pipeOf("usb0"));
    EXPECT_EQ(device.exchange(code(0x0000520A)), (Bytes{0xC8, 0xAF, 0, 0}));
    // A rejected command gets nothing, and the connection serves on.
    EXPECT_TRUE(device.send(code(0x00005200)));
    EXPECT_EQ(device.exchange(code(0x00005214)), (Bytes{0xEF, 0xBE, 0, 0}));
    // The snapshot is the device's: taken on one connection, read on another.
    const auto row = Pipe(pipeOf("usb0")).exchange(code(0x80215216, 33));
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(Bytes(row->begin(), row->begin() + 6), (Bytes{0, 42, 0, 0, 0, 1}));

    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, "Global\\VeltaraSharedMem_usb0");
    EXPECT_NE(section, nullptr);
    if (section) CloseHandle(section);
}

TEST_F(HostService, InstanceCountAndMalformedRequestsEndTheirConnectionOnly) {
    settings.pipeInstances = 2;
    start();
    Pipe first(pipeOf("usb0")), second(pipeOf("usb0")), third(pipeOf("usb0"));
    ASSERT_TRUE(first.open() && second.open());
    EXPECT_EQ(third.error, ERROR_PIPE_BUSY);

    EXPECT_TRUE(first.send({0x09, 0x52, 0x00}));  // shorter than a code
    EXPECT_FALSE(first.receive());
    EXPECT_TRUE(second.send(code(0xC01C520A, 4)));  // 4 payload bytes where 28 are due
    EXPECT_FALSE(second.receive());
    Pipe broker(kBroker);
    EXPECT_TRUE(broker.send({2, 0, 0, 0}));
    EXPECT_FALSE(broker.receive());

    ASSERT_TRUE(becomesAvailable(pipeOf("usb0")));
    Pipe again(pipeOf("usb0"));
    EXPECT_EQ(again.exchange(code(0x00005209)), (Bytes{1, 0, 0, 0}));
}

TEST_F(HostService, AbsentUntilTheClockHasRun) {
    settings.absentMs = 250;
    start();
    EXPECT_FALSE(service->serving());
    EXPECT_EQ(Pipe(kBroker).error, ERROR_FILE_NOT_FOUND);
    clock.advance(250'000);
    ASSERT_TRUE(becomesAvailable(kBroker));
    EXPECT_EQ(Pipe(kBroker).exchange({1, 0, 0, 0}).value().at(0), 1);
    EXPECT_TRUE(Pipe(pipeOf("usb0")).open());
}

TEST_F(HostService, EveryInstanceBusyUntilTheClockHasRun) {
    devices[0].faults.busyMs = 100;
    settings.brokerBusyMs = 300;
    start();
    EXPECT_EQ(Pipe(pipeOf("usb0")).error, ERROR_PIPE_BUSY);
    EXPECT_EQ(Pipe(kBroker).error, ERROR_PIPE_BUSY);
    EXPECT_FALSE(WaitNamedPipeW(pipeOf("usb0").c_str(), 20));  // the clock stands still

    clock.advance(100'000);
    ASSERT_TRUE(becomesAvailable(pipeOf("usb0")));
    EXPECT_EQ(Pipe(pipeOf("usb0")).exchange(code(0x00005209)), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(Pipe(kBroker).error, ERROR_PIPE_BUSY);
    clock.advance(200'000);
    ASSERT_TRUE(becomesAvailable(kBroker));
    EXPECT_TRUE(Pipe(kBroker).exchange({1, 0, 0, 0}).has_value());
}

// Connections broken after a number of requests are seen through the library.
TEST_F(HostService, OversizedRepliesAreOneMessage) {
    devices[0].faults.replyLength = {{11, 6}};
    devices[0].name = std::string(64, 'n');
    settings.listExtraEntries = 70;
    settings.listCount = 80;
    start();
    Pipe pipe(pipeOf(std::string(64, 'n')));  // the whole name; the library's 63 bytes name none
    EXPECT_EQ(Pipe(pipeOf(std::string(63, 'n'))).error, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(pipe.exchange(code(0x4004520B, 4), 4).has_value());  // message mode: too long
    EXPECT_EQ(pipe.error, ERROR_MORE_DATA);
    EXPECT_EQ(pipe.receive(), (Bytes{0, 0}));  // the rest of the message
    EXPECT_TRUE(pipe.exchange(code(0x00005209)).has_value());

    Pipe broker(kBroker);
    EXPECT_FALSE(broker.exchange({1, 0, 0, 0}, 4356).has_value());
    EXPECT_EQ(broker.error, ERROR_MORE_DATA);
    ASSERT_EQ(broker.partial.size(), 4356u);
    EXPECT_EQ(Bytes(broker.partial.begin(), broker.partial.begin() + 4), (Bytes{80, 0, 0, 0}));
    const auto rest = broker.receive();
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(rest->size(), 4u + 71 * 68 - 4356);
}

TEST_F(HostService, ManyClientsAtOnce) {
    start();
    std::vector<int> good(8, 0);
    std::vector<std::thread> clients;
    for (int& count : good) {
        clients.emplace_back([&count] {
            Pipe pipe(pipeOf("usb0"));
            for (int i = 0; i < 25; ++i)
                count += pipe.exchange(code(0xCA10520E, 2576)).value_or(Bytes{}).size() == 2576;
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(good, std::vector<int>(8, 25));
}

TEST_F(HostService, StopsWithClientsConnectedAndRepliesWithheld) {
    devices[0].faults.silent = {11};
    start();
    std::vector<std::unique_ptr<Pipe>> idle;
    for (int i = 0; i < 5; ++i) idle.push_back(std::make_unique<Pipe>(pipeOf("usb0")));
    Pipe waiting(pipeOf("usb0"));
    ASSERT_TRUE(waiting.send(code(0x4004520B, 4)));
    std::optional<Bytes> answer{Bytes{}};
    std::thread reader([&] { answer = waiting.receive(); });

    // The service still serves others while one reply is withheld.
    EXPECT_TRUE(Pipe(pipeOf("usb0")).exchange(code(0x00005209)).has_value());
    service.reset();
    reader.join();
    EXPECT_FALSE(answer.has_value());
    for (auto& pipe : idle) EXPECT_FALSE(pipe->receive().has_value());
}

}  // namespace
}  // namespace crvmon::sim::testing
