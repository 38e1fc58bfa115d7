// One Orvek telemetry refresh (eleven register reads) beside eleven raw control requests on the
// same device object, and crvmonInit with two simulated cards, with the identity requests it
// makes where the cards count them.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "bench/orvek_bench_cards.h"
#include "bench/ratio_reporter.h"
#include "crvmon.h"
#include "lib/orvek/orvek_monitor_win.h"
#include "lib/orvek/orvek_wire.h"
#include "lib/orvek/register_decoding.h"
#include "lib/platform/win32.h"

namespace {

using namespace crvmon;

// Served from main, before the benchmarks run, until they have all run.
std::unique_ptr<bench::OrvekBenchCards> cards;

// The requests a refresh makes, overlapped, then waited for: with one event for all of them, or
// with an event created and closed for each, as the library does.
void RawRegisterReads(benchmark::State& state, bool eventPerRequest) {
    HANDLE card =
        CreateFileA(OrvekMonitor_win::deviceObjectName(0).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (card == INVALID_HANDLE_VALUE) {
        state.SkipWithError("card 0 did not open");
        return;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::array<std::uint8_t, orvek::wire::register_request::kSize> request{};
    store32(request.data() + orvek::wire::register_request::kOperation,
            orvek::wire::register_request::kRead);
    for (auto _ : state) {
        for (std::uint32_t address : orvek::kRefreshRegisters) {
            store32(request.data() + orvek::wire::register_request::kAddress, address);
            std::uint32_t value = 0;
            DWORD transferred = 0;
            OVERLAPPED overlapped{};
            overlapped.hEvent =
                eventPerRequest ? CreateEventW(nullptr, TRUE, TRUE, nullptr) : event;
            const BOOL done = DeviceIoControl(card, orvek::wire::kIoctlRegister, request.data(),
                                              static_cast<DWORD>(request.size()), &value, 4,
                                              &transferred, &overlapped);
            if ((!done && GetLastError() != ERROR_IO_PENDING) ||
                !GetOverlappedResult(card, &overlapped, &transferred, TRUE) || transferred != 4) {
                state.SkipWithError("a register read failed");
                break;
            }
            if (eventPerRequest) CloseHandle(overlapped.hEvent);
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
        const std::optional<long> before = cards->identityRequests();
        corvanta::crvmonInit();
        state.PauseTiming();
        crvmonStatusCode_t status = CRVMON_STATUS_OK;
        const int found = corvanta::crvmonGetTargetDeviceCount(CRVMON_TARGET_ORVEK_PCIE, status);
        if (const std::optional<long> after = cards->identityRequests()) opens += *after - *before;
        corvanta::crvmonShutdown();
        if (found != 2) {
            state.SkipWithError("crvmonInit did not find both cards");
            break;
        }
        state.ResumeTiming();
    }
    // Only where the cards count what they answer.
    if (cards->identityRequests() && state.iterations() > 0) {
        state.counters["card_opens_per_init"] = benchmark::Counter(
            static_cast<double>(opens) / static_cast<double>(state.iterations()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    try {
        cards = std::make_unique<bench::OrvekBenchCards>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the simulated cards could not be served: %s\n", e.what());
        return 1;
    }
    benchmark::RegisterBenchmark("eleven_raw_register_reads", [](benchmark::State& state) {
        RawRegisterReads(state, false);
    })->UseRealTime();
    benchmark::RegisterBenchmark("eleven_raw_reads_event_each", [](benchmark::State& state) {
        RawRegisterReads(state, true);
    })->UseRealTime();
    benchmark::RegisterBenchmark("telemetry_refresh", MonitorRefresh)->UseRealTime();
    benchmark::RegisterBenchmark("crvmon_init_two_cards", InitWithTwoCards)->UseRealTime();
    RatioReporter reporter("telemetry_refresh/real_time", "eleven_raw_register_reads/real_time",
                           "telemetry refresh / eleven raw register reads");
    reporter.addRatio("telemetry_refresh/real_time", "eleven_raw_reads_event_each/real_time",
                      "telemetry refresh / eleven raw reads with an event each");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    cards.reset();
    return 0;
}
