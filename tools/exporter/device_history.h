// The last minutes of each device's utilisation and temperature, kept by the exporter so that
// the live page opens with its charts drawn. Memory is bounded: a fixed number of points a
// device, and only the devices of the last read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/exporter/device_collector.h"

namespace crvmon::exporter {

class DeviceHistory {
  public:
    // One read every interval, ten minutes of them: what the page draws.
    static constexpr std::chrono::seconds kInterval{2};
    static constexpr std::size_t kPoints = 300;
    // What a history read asks of the devices.
    static constexpr unsigned kReadGroups = tools::kReadThermal | tools::kReadUtilization;

    void record(const Scrape& scrape, std::chrono::system_clock::time_point at);

    // {"now": UNIX_MS, "interval_seconds": 2,
    //  "devices": [{"id": "3:0", "points": [[UNIX_MS, UTIL, TEMP], ...]}, ...]}
    // oldest point first, null for a value the device did not give; `now` is `at`, so that a
    // reader on another clock can place the points.
    std::string json(std::chrono::system_clock::time_point at) const;

  private:
    struct Point {
        std::int64_t unixMs = 0;
        std::optional<double> utilizationPercent;
        std::optional<int> temperatureC;
    };
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::deque<Point>>> devices_;  // in the read's order
};

// Reads the devices into the history at once and then every interval, on its own thread, until
// destroyed.
class HistorySampler {
  public:
    HistorySampler(DeviceCollector& collector, DeviceHistory& history);
    ~HistorySampler();
    HistorySampler(const HistorySampler&) = delete;
    HistorySampler& operator=(const HistorySampler&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace crvmon::exporter
