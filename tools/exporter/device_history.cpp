#include "tools/exporter/device_history.h"

#include <nlohmann/json.hpp>

#include "tools/common/device_id.h"
#include "tools/common/device_json.h"

namespace crvmon::exporter {

namespace {

std::int64_t unixMillis(std::chrono::system_clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

}  // namespace

void DeviceHistory::record(const Scrape& scrape, std::chrono::system_clock::time_point at) {
    const std::int64_t unixMs = unixMillis(at);
    const std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, std::deque<Point>>> next;
    for (const tools::DeviceSample& sample : scrape.devices) {
        std::string id = tools::formatDeviceId(sample.id);
        std::deque<Point> points;
        for (auto& [known, kept] : devices_) {
            if (known == id) points = std::move(kept);
        }
        points.push_back({unixMs, sample.utilizationPercent, sample.temperatureC});
        while (points.size() > kPoints) points.pop_front();
        next.emplace_back(std::move(id), std::move(points));
    }
    devices_ = std::move(next);
}

std::string DeviceHistory::json(std::chrono::system_clock::time_point at) const {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    const std::lock_guard lock(mutex_);
    for (const auto& [id, points] : devices_) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const Point& p : points) {
            list.push_back({p.unixMs, tools::optionalJson(p.utilizationPercent),
                            tools::optionalJson(p.temperatureC)});
        }
        devices.push_back({{"id", id}, {"points", std::move(list)}});
    }
    const nlohmann::ordered_json answer = {{"now", unixMillis(at)},
                                           {"interval_seconds", kInterval.count()},
                                           {"devices", std::move(devices)}};
    return answer.dump() + '\n';
}

HistorySampler::HistorySampler(DeviceCollector& collector, DeviceHistory& history) {
    thread_ = std::thread([this, &collector, &history] {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            const auto at = std::chrono::system_clock::now();
            history.record(collector.collect(DeviceHistory::kReadGroups), at);
            lock.lock();
            wake_.wait_for(lock, DeviceHistory::kInterval, [this] { return stopping_; });
        }
    });
}

HistorySampler::~HistorySampler() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

}  // namespace crvmon::exporter
