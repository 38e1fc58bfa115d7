#include "tools/exporter/device_collector.h"

#include <functional>

namespace crvmon::exporter {

DeviceCollector::DeviceCollector(const Settings& settings)
    : settings_(settings), pool_(settings.threads) {
    const std::unique_lock lock(lifecycle_);
    initialise();
}

DeviceCollector::~DeviceCollector() {
    const std::unique_lock lock(lifecycle_);
    session_.reset();  // shuts the library down, with no call beside it
}

void DeviceCollector::initialise() {
    if (session_) {
        session_->reinitialise();
    } else {
        session_ = std::make_unique<tools::LibrarySession>();
    }
    initialisedAt_ = std::chrono::steady_clock::now();
    devices_.clear();
    deviceLocks_.clear();
    if (session_->status() == CRVMON_STATUS_OK) {
        devices_ = tools::listDevices().devices;
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            deviceLocks_.push_back(std::make_unique<std::mutex>());
        }
    }
    if (settings_.initialised) settings_.initialised(session_->status(), devices_.size());
}

bool DeviceCollector::initialisationDue(std::chrono::steady_clock::time_point now) const {
    const auto since = now - initialisedAt_;
    if (session_->status() != CRVMON_STATUS_OK) return since >= settings_.retryWhenDown;
    return settings_.reinitInterval.count() > 0 && since >= settings_.reinitInterval;
}

Scrape DeviceCollector::collect(unsigned groups) {
    const auto start = std::chrono::steady_clock::now();
    {
        std::shared_lock check(lifecycle_);
        if (initialisationDue(start)) {
            check.unlock();
            const std::unique_lock lock(lifecycle_);
            // Another scrape may have done it while this one waited.
            if (initialisationDue(std::chrono::steady_clock::now())) initialise();
        }
    }

    Scrape scrape;
    const std::shared_lock lock(lifecycle_);
    scrape.status = session_->status();
    scrape.up = scrape.status == CRVMON_STATUS_OK;
    scrape.devices.resize(devices_.size());
    std::vector<std::function<void()>> reads;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        reads.push_back([this, i, groups, &scrape] {
            const std::lock_guard device(*deviceLocks_[i]);
            scrape.devices[i] = tools::readDevice(devices_[i], groups);
        });
    }
    pool_.runAll(std::move(reads));
    if (scrape.up) scrape.drivers = tools::driverVersions();

    {
        const std::lock_guard errors(errorsMutex_);
        for (const tools::DeviceSample& sample : scrape.devices) {
            std::uint64_t& total = readErrors_[tools::formatDeviceId(sample.id)];
            total += sample.errors.size();
            scrape.readErrors.push_back(total);
        }
    }
    scrape.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return scrape;
}

}  // namespace crvmon::exporter
