// What crvmon-exporter costs over the library it reads. In one run each:
//   scrape latency: GET /metrics through HTTP on the built-in machine, beside the library calls
//     one scrape makes (every device read in full, then the driver versions), made in sequence;
//   fleet: 64 Orvek cards and 8 Veltara devices, a scrape beside the slowest single device's
//     reads, with the exporter's default thread count, with 1 thread and with 8;
//   memory: the process's resident size before and after many scrapes of the built-in machine.
// Run by hand, natively and under Wine (not by CTest). Options, beside Google Benchmark's:
//   --latency-scrapes=N (500), --fleet-scrapes=N (40), --memory-scrapes=N (10000), and
//   --tcp-nodelay: the server with TCP_NODELAY set. cpp-httplib leaves it off, and on a
//   kept-alive connection a request that closely follows the previous reply then waits for the
//   delayed acknowledgement (about 40 ms on Linux), as every scrape of the memory loop does.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/model/scenario.h"
#include "sim/private_simulation.h"
#include "tools/common/device_id.h"
#include "tools/common/device_sample.h"
#include "tools/exporter/device_collector.h"
#include "tools/exporter/http_routes.h"
#include "tools/exporter/metrics_text.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>
#else
#include <unistd.h>

#include <fstream>
#endif

namespace {

using namespace crvmon;
using Clock = std::chrono::steady_clock;

struct Counts {
    int latency = 500;
    int fleet = 40;
    int memory = 10'000;
};
Counts counts;
// --tcp-nodelay: the server sends its replies at once, as cpp-httplib does not by default.
bool tcpNoDelay = false;

// A pause before each timed step: reads of a device that follow its previous reads within a few
// milliseconds take longer on the simulated machine, and a scrape comes every few seconds.
void settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The q-quantile (0-1) of the values, by the nearest rank.
double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(values.size()) + 0.999999);
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// As crvmon-exporter chooses when --threads is not given.
unsigned exporterDefaultThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
}

std::optional<double> residentMiB() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return std::nullopt;
    }
    return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
#else
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident)) return std::nullopt;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
#endif
}

// 64 Orvek cards (device_index 0-63) and 8 Veltara devices, each at work.
constexpr std::size_t kFleetDevices = 72;
sim::Scenario fleetScenario() {
    std::string text;
    for (int i = 0; i < 64; ++i) {
        text += "[[orvek]]\ndevice_index = " + std::to_string(i) +
                "\ntemperature = " + std::to_string(40 + i % 30) +
                "\nmemory_used = " + std::to_string((1 + i % 8) * 1'073'741'824LL) +
                "\nload = [0.6, 0.5, 0.4, 0.7, 0.2, 0.3, 0.3, 0.2, 0.4, 0.1]\n"
                "load_wave_amplitude = 0.4\nload_wave_period_s = 30\n\n";
    }
    for (int i = 0; i < 8; ++i) {
        text += "[[veltara]]\nkind = " + std::to_string(i % 2) +
                "\npages_in_use = " + std::to_string(0x1000 * (i + 1)) +
                "\ntemperature_mc = " + std::to_string(40'000 + 1'000 * i) +
                "\n\n[[veltara.work]]\npid = " + std::to_string(4000 + i) +
                "\nperiod_us = 100_000\nbusy_us = " + std::to_string(10'000 * (i + 1)) +
                "\n\n[[veltara.process]]\npid = " + std::to_string(4000 + i) +
                "\ncount = 2\namount = 16_777_216\n\n";
    }
    return sim::parseScenario(text, "fleet");
}

// The exporter as crvmon-exporter puts it together: the simulated machine, the collector, the
// HTTP server on a free loopback port, and a client that keeps its connection open between
// scrapes, as Prometheus does.
class ServedMachine {
  public:
    ServedMachine(const sim::Scenario& scenario, unsigned threads)
        : simulation_(scenario), collector_(settings(threads)) {
        exporter::addRoutes(server_, collector_, history_);
        if (tcpNoDelay) server_.set_tcp_nodelay(true);
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("no loopback port to listen on");
        serving_ = std::thread([this] {
            server_.listen_after_bind();
            listenEnded_ = true;
        });
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!server_.is_running()) {
            if (listenEnded_ || Clock::now() > deadline) {
                stopServing();
                throw std::runtime_error("the HTTP server did not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_keep_alive(true);
        client_->set_read_timeout(120, 0);
        devices_ = tools::listDevices().devices;  // the collector has initialised the library
    }
    ~ServedMachine() { stopServing(); }
    ServedMachine(const ServedMachine&) = delete;
    ServedMachine& operator=(const ServedMachine&) = delete;

    // One GET /metrics, timed; empty when it answered with the devices up, else what went wrong.
    std::string timedScrape(double& milliseconds) {
        const auto start = Clock::now();
        std::string error = scrape();
        milliseconds = millisecondsSince(start);
        return error;
    }
    std::string scrape() {
        const httplib::Result result = client_->Get("/metrics");
        if (!result) return "GET /metrics failed: " + httplib::to_string(result.error());
        if (result->status != 200) return "GET /metrics answered " + std::to_string(result->status);
        if (result->body.find("\ncrvmon_up 1\n") == std::string::npos) {
            return "GET /metrics: the devices are not up";
        }
        return {};
    }

    // The reads one scrape makes, in sequence; milliseconds of each device's, then the total
    // with the driver versions.
    double readInSequence(std::vector<double>* perDevice) const {
        const auto start = Clock::now();
        for (const tools::DeviceId& id : devices_) {
            const auto deviceStart = Clock::now();
            benchmark::DoNotOptimize(tools::readDevice(id, tools::kReadEverything));
            if (perDevice != nullptr) perDevice->push_back(millisecondsSince(deviceStart));
        }
        benchmark::DoNotOptimize(tools::driverVersions());
        return millisecondsSince(start);
    }

    // What GET /metrics does without the HTTP round trip: collect, then format.
    double collectAndFormat() {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(
            exporter::metricsText(collector_.collect(exporter::metricsReadGroups())));
        return millisecondsSince(start);
    }

    std::size_t deviceCount() const { return devices_.size(); }

  private:
    static exporter::DeviceCollector::Settings settings(unsigned threads) {
        exporter::DeviceCollector::Settings settings;
        settings.threads = threads;
        return settings;
    }
    void stopServing() {
        client_.reset();
        // stop() does nothing until the server runs.
        while (serving_.joinable() && !server_.is_running() && !listenEnded_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        server_.stop();
        if (serving_.joinable()) serving_.join();
    }

    sim::PrivateSimulation simulation_;  // outlives the collector, which reads it
    exporter::DeviceCollector collector_;
    exporter::DeviceHistory history_;
    httplib::Server server_;
    int port_ = 0;
    std::atomic<bool> listenEnded_{false};
    std::thread serving_;
    std::unique_ptr<httplib::Client> client_;
    std::vector<tools::DeviceId> devices_;
};

// The served machine, or null with the benchmark skipped and the reason given.
std::unique_ptr<ServedMachine> serveMachine(benchmark::State& state, const sim::Scenario& scenario,
                                            unsigned threads) {
    try {
        return std::make_unique<ServedMachine>(scenario, threads);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// What the summary after Google Benchmark's table prints.
std::vector<std::string> summary;

// MinGW checks formats as its own C runtime's unless told they follow C99, as its vsnprintf does.
#ifdef __MINGW_PRINTF_FORMAT
#define SUMMARY_FORMAT __MINGW_PRINTF_FORMAT
#else
#define SUMMARY_FORMAT printf
#endif
void addSummary(const char* format, ...) __attribute__((format(SUMMARY_FORMAT, 1, 2)));
void addSummary(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    summary.emplace_back(line);
}

void ScrapeLatency(benchmark::State& state) {
    const auto served = serveMachine(state, sim::builtInScenario(), exporterDefaultThreads());
    if (!served) return;
    ServedMachine& machine = *served;
    for (int i = 0; i < 5; ++i) machine.scrape();  // connection, first reads
    std::vector<double> scrapes;
    std::vector<double> reads;
    std::vector<double> inProcess;
    std::size_t round = 0;
    for (auto _ : state) {
        // Each measurement takes its turn first, second and third: what runs just after a
        // scrape meets the work the scrape leaves behind, and would otherwise always pay it.
        double scrapeMs = 0;
        std::string error;
        for (std::size_t step = 0; step < 3; ++step) {
            settle();
            switch ((round + step) % 3) {
                case 0: error = machine.timedScrape(scrapeMs); break;
                case 1: reads.push_back(machine.readInSequence(nullptr)); break;
                default: inProcess.push_back(machine.collectAndFormat()); break;
            }
        }
        ++round;
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(scrapeMs / 1000.0);
        scrapes.push_back(scrapeMs);
    }
    const double median = quantile(scrapes, 0.5);
    const double p99 = quantile(scrapes, 0.99);
    const double readsMedian = quantile(reads, 0.5);
    const double inProcessMedian = quantile(inProcess, 0.5);
    state.counters["median_ms"] = median;
    state.counters["p99_ms"] = p99;
    state.counters["reads_median_ms"] = readsMedian;
    state.counters["collect_median_ms"] = inProcessMedian;
    state.counters["ratio"] = median / readsMedian;
    addSummary(
        "scrape latency, built-in machine (%zu devices, %u threads, %zu scrapes): "
        "median %.3f ms, p99 %.3f ms; the library calls of one scrape in sequence: "
        "median %.3f ms; scrape/reads = %.2f (target <= 1.3); collect and format "
        "without HTTP: median %.3f ms",
        machine.deviceCount(), exporterDefaultThreads(), scrapes.size(), median, p99, readsMedian,
        median / readsMedian, inProcessMedian);
}

void FleetScrape(benchmark::State& state) {
    const auto threads = static_cast<unsigned>(state.range(0));
    const auto served = serveMachine(state, fleetScenario(), threads);
    if (!served) return;
    ServedMachine& machine = *served;
    if (machine.deviceCount() != kFleetDevices) {
        const std::string error = "the fleet shows " + std::to_string(machine.deviceCount()) +
                                  " devices, not " + std::to_string(kFleetDevices);
        state.SkipWithError(error.c_str());
        return;
    }
    for (int i = 0; i < 2; ++i) machine.scrape();
    std::vector<double> scrapes;
    std::vector<double> slowest;
    std::vector<double> sums;
    bool scrapeFirst = true;
    for (auto _ : state) {
        double scrapeMs = 0;
        std::string error;
        settle();
        if (scrapeFirst) error = machine.timedScrape(scrapeMs);
        std::vector<double> perDevice;
        settle();
        sums.push_back(machine.readInSequence(&perDevice));
        slowest.push_back(*std::max_element(perDevice.begin(), perDevice.end()));
        if (!scrapeFirst) {
            settle();
            error = machine.timedScrape(scrapeMs);
        }
        scrapeFirst = !scrapeFirst;
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(scrapeMs / 1000.0);
        scrapes.push_back(scrapeMs);
    }
    const double median = quantile(scrapes, 0.5);
    const double slowestMedian = quantile(slowest, 0.5);
    const double sumMedian = quantile(sums, 0.5);
    state.counters["median_ms"] = median;
    state.counters["slowest_device_ms"] = slowestMedian;
    state.counters["all_reads_ms"] = sumMedian;
    state.counters["ratio"] = median / slowestMedian;
    addSummary(
        "fleet (%zu devices), %u thread(s), %zu scrapes: scrape median %.2f ms, p99 "
        "%.2f ms; slowest single device's reads median %.3f ms; scrape/slowest = %.2f "
        "(target <= 1.5); every device in sequence %.2f ms, that over the threads %.2f "
        "ms, scrape/(that) = %.2f",
        machine.deviceCount(), threads, scrapes.size(), median, quantile(scrapes, 0.99),
        slowestMedian, median / slowestMedian, sumMedian, sumMedian / threads,
        median / (sumMedian / threads));
}

void MemoryOverScrapes(benchmark::State& state) {
    const auto served = serveMachine(state, sim::builtInScenario(), exporterDefaultThreads());
    if (!served) return;
    ServedMachine& machine = *served;
    const auto before = residentMiB();
    for (int i = 0; i < 100; ++i) machine.scrape();
    const auto warm = residentMiB();
    std::vector<double> checkpoints;
    for (auto _ : state) {
        for (int i = 1; i <= counts.memory; ++i) {
            const std::string error = machine.scrape();
            if (!error.empty()) {
                state.SkipWithError(error.c_str());
                return;
            }
            if (i % std::max(1, counts.memory / 10) != 0) continue;
            if (const auto mib = residentMiB()) checkpoints.push_back(*mib);
        }
    }
    const auto after = residentMiB();
    if (!before || !warm || !after) {
        state.SkipWithError("the resident size cannot be read");
        return;
    }
    state.counters["rss_warm_MiB"] = *warm;
    state.counters["rss_after_MiB"] = *after;
    state.counters["growth_KiB"] = (*after - *warm) * 1024;
    std::string steps;
    for (const double mib : checkpoints) {
        char text[32];
        std::snprintf(text, sizeof text, " %.2f", mib);
        steps += text;
    }
    addSummary(
        "memory: resident %.2f MiB before any scrape, %.2f MiB after 100 scrapes, "
        "%.2f MiB after %d more (%+.0f KiB); along the way (MiB):%s",
        *before, *warm, *after, counts.memory, (*after - *warm) * 1024, steps.c_str());
}

bool readCount(const char* argument, const char* name, int& count) {
    const std::size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0 || argument[length] != '=') return false;
    char* end = nullptr;
    const long value = std::strtol(argument + length + 1, &end, 10);
    if (*end != '\0' || value < 1 || value > 10'000'000) {
        std::fprintf(stderr, "exporter_bench: %s wants a count from 1 to 10000000\n", name);
        std::exit(2);
    }
    count = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tcp-nodelay") == 0) {
            tcpNoDelay = true;
            continue;
        }
        if (!readCount(argv[i], "--latency-scrapes", counts.latency) &&
            !readCount(argv[i], "--fleet-scrapes", counts.fleet) &&
            !readCount(argv[i], "--memory-scrapes", counts.memory)) {
            std::fprintf(stderr, "exporter_bench: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    benchmark::RegisterBenchmark("scrape_latency", ScrapeLatency)
        ->Iterations(counts.latency)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    std::vector<unsigned> threadCounts{exporterDefaultThreads(), 1};
    if (exporterDefaultThreads() != 8) threadCounts.push_back(8);
    for (const unsigned threads : threadCounts) {
        benchmark::RegisterBenchmark("fleet_scrape", FleetScrape)
            ->Arg(threads)
            ->ArgName("threads")
            ->Iterations(counts.fleet)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("memory_over_scrapes", MemoryOverScrapes)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);

    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exporter_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    std::printf("\n");
    for (const std::string& line : summary) std::printf("%s\n", line.c_str());
    return 0;
}
