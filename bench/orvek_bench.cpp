// One Orvek telemetry refresh (eleven register reads) beside eleven raw control requests on the
// same device object, and crvmonInit with two simulated cards beside the device-object opens
// it makes.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "api/crvmon.h"
#include "model/orvek_card_model.h"
#include "model/scenario.h"
#include "orvek/orvek_monitor_win.h"
#include "orvek/orvek_wire.h"
#include "platform/posix/device_object_server.h"
#include "platform/win32.h"
#include "ratio_reporter.h"
#include "private_simulation.h"

namespace {

using namespace crvmon;

// Two cards served by hand, so that the identity requests (one per open that found a card)
// can be counted; the private simulation provides the object root and the host service.
struct Fixture {
    Fixture() : simulation(sim::parseScenario("")), clock() {
        const sim::Scenario cards = sim::parseScenario("[[orvek]]\n[[orvek]]\n");
        for (const sim::OrvekCardConfig& config : cards.orvekCards) {
            models.push_back(std::make_unique<sim::OrvekCardModel>(config, clock));
            sim::OrvekCardModel* model = models.back().get();
            std::string name = "corvanta_pcie";
            if (config.deviceIndex != 0) name += std::to_string(config.deviceIndex);
            servers.push_back(std::make_unique<platform::DeviceObjectServer>(
                name, [this, model](const platform::DeviceIoRequest& r) {
                    if (r.code == orvek::wire::kIoctlDeviceInfo) ++identityRequests;
                    return platform::DeviceIoReply{
                        model->answer(r.code, r.input, r.outputCapacity).output, 0};
                }));
        }
    }
    sim::PrivateSimulation simulation;
    sim::SteadySimClock clock;
    std::vector<std::unique_ptr<sim::OrvekCardModel>> models;
    std::vector<std::unique_ptr<platform::DeviceObjectServer>> servers;
    std::atomic<long> identityRequests{0};
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void RawRegisterReads(benchmark::State& state) {
    HANDLE card = CreateFileA(OrvekMonitor_win::deviceObjectName(0).c_str(),
                              GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::array<std::uint8_t, 12> request{};
    store32(request.data(), orvek::wire::register_request::kRead);
    for (auto _ : state) {
        for (int i = 0; i < 11; ++i) {
            store32(request.data() + 4, 0x0FC12060);
            std::uint32_t value = 0;
            DWORD transferred = 0;
            OVERLAPPED overlapped{};
            overlapped.hEvent = event;
            DeviceIoControl(card, orvek::wire::kIoctlRegister, request.data(), 12, &value, 4,
                            &transferred, &overlapped);
            GetOverlappedResult(card, &overlapped, &transferred, TRUE);
            benchmark::DoNotOptimize(value);
        }
    }
    CloseHandle(event);
    CloseHandle(card);
}

void MonitorRefresh(benchmark::State& state) {
    OrvekMonitor_win monitor(0);
    if (!monitor.isOpen()) {
        state.SkipWithError("card 0 did not open");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(monitor.getInfo());
}

void InitWithTwoCards(benchmark::State& state) {
    long opens = 0;
    for (auto _ : state) {
        const long before = fixture().identityRequests.load();
        corvanta::crvmonInit();
        state.PauseTiming();
        opens += fixture().identityRequests.load() - before;
        corvanta::crvmonShutdown();
        state.ResumeTiming();
    }
    state.counters["card_opens_per_init"] =
        benchmark::Counter(static_cast<double>(opens) / static_cast<double>(state.iterations()));
}


}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    fixture();
    benchmark::RegisterBenchmark("eleven_raw_register_reads", RawRegisterReads)->UseRealTime();
    benchmark::RegisterBenchmark("telemetry_refresh", MonitorRefresh)->UseRealTime();
    benchmark::RegisterBenchmark("crvmon_init_two_cards", InitWithTwoCards)->UseRealTime();
    RatioReporter reporter("telemetry_refresh/real_time", "eleven_raw_register_reads/real_time",
                           "telemetry refresh / eleven raw register reads");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
