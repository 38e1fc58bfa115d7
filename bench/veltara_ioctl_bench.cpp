// One command through the host-service client beside a raw write and read on a pipe instance
// of the same simulated service, and commands per second of one client from several threads.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/ratio_reporter.h"
#include "lib/platform/win32.h"
#include "lib/veltara/client/command_protocol.h"
#include "lib/veltara/client/pipe_transport.h"
#include "lib/veltara/client/veltara_client.h"
#include "lib/veltara/client/veltara_wire.h"
#include "sim/model/scenario.h"
#include "sim/private_simulation.h"

namespace {

using namespace crvmon;

// The simulated service and one client of its device, for the whole run.
struct Fixture {
    Fixture()
        : simulation(sim::parseScenario("[[veltara]]\ndev_no = 0\nname = \"bench0\"\n")),
          client(veltara::veltara_open(0)) {}
    ~Fixture() { veltara::veltara_close(client); }
    sim::PrivateSimulation simulation;
    VeltaraClient* client;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// The temperature command without payload: a 4-byte request and a 4-byte value reply.
constexpr std::uint32_t kCode = veltara::wire::code::kGetTemperature;

void RawPipeRoundTrip(benchmark::State& state) {
    HANDLE pipe = veltara::connect_pipe(veltara::wire::devicePipeName("bench0"));
    if (pipe == INVALID_HANDLE_VALUE) {
        state.SkipWithError("no pipe instance");
        return;
    }
    veltara::setMessageReadMode(pipe);
    std::array<std::uint8_t, 4> request{};
    store32(request.data(), kCode);
    for (auto _ : state) {
        DWORD written = 0;
        DWORD read = 0;
        std::uint32_t reply = 0;
        if (!WriteFile(pipe, request.data(), 4, &written, nullptr) ||
            !ReadFile(pipe, &reply, 4, &read, nullptr) || read != 4) {
            state.SkipWithError("the raw round trip failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    CloseHandle(pipe);
}

void ClientCommand(benchmark::State& state) {
    VeltaraClient* client = fixture().client;
    for (auto _ : state) {
        // The simulated temperature is positive: a negative result is the client's failure.
        const std::int32_t temperature = veltara::veltara_ioctl(client, kCode, nullptr);
        if (temperature < 0) {
            state.SkipWithError("the command failed");
            break;
        }
        benchmark::DoNotOptimize(temperature);
    }
    state.SetItemsProcessed(state.iterations());
}

// Registered after the fixture is built in main, so that the raw round trip finds the service.
void registerAll() {
    benchmark::RegisterBenchmark("raw_pipe_round_trip", RawPipeRoundTrip)->UseRealTime();
    benchmark::RegisterBenchmark("veltara_ioctl", ClientCommand)->UseRealTime();
    benchmark::RegisterBenchmark("veltara_ioctl_threads", ClientCommand)
        ->Threads(1)
        ->Threads(4)
        ->Threads(32)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (fixture().client == nullptr) {
        std::fprintf(stderr, "the simulated device did not open\n");
        return 1;
    }
    registerAll();
    RatioReporter reporter("veltara_ioctl/real_time", "raw_pipe_round_trip/real_time",
                           "veltara_ioctl / raw pipe round trip");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
