// What one scrape reads, and the rules it reads by: the library initialised once and kept
// (again only every --reinit-interval), initialisation and shutdown alone, calls on one device
// one at a time, different devices read at once on a bounded pool.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "tools/common/device_sample.h"
#include "tools/common/library_session.h"
#include "tools/exporter/worker_pool.h"

namespace crvmon::exporter {

struct Scrape {
    bool up = false;  // the library is initialised and found devices
    crvmonStatusCode_t status = CRVMON_STATUS_NOT_INITIALIZED;  // of the last initialisation
    std::vector<tools::DeviceSample> devices;  // by target type, then index: a stable order
    std::vector<std::uint64_t> readErrors;     // per device, failed reads since the start
    std::vector<tools::DriverVersion> drivers;
    double seconds = 0;  // how long the scrape took
};

class DeviceCollector {
  public:
    struct Settings {
        unsigned threads = 4;
        // Initialise again after this long, to find devices that appeared; 0: never.
        std::chrono::milliseconds reinitInterval{0};
        // While no device is found, try again at a scrape at most this often.
        std::chrono::milliseconds retryWhenDown{10'000};
        // Told the outcome of every initialisation (the library's status, the devices found),
        // with no other call on the library beside it.
        using Initialised = std::function<void(crvmonStatusCode_t, std::size_t devices)>;
        Initialised initialised;
    };

    explicit DeviceCollector(const Settings& settings);
    ~DeviceCollector();
    DeviceCollector(const DeviceCollector&) = delete;
    DeviceCollector& operator=(const DeviceCollector&) = delete;

    // Reads the groups asked for (a tools::ReadGroup mask) of every device. Safe to call from
    // several threads at once.
    Scrape collect(unsigned groups);

  private:
    bool initialisationDue(std::chrono::steady_clock::time_point now) const;
    void initialise();  // holds lifecycle_ exclusively

    Settings settings_;
    WorkerPool pool_;
    mutable std::shared_mutex lifecycle_;
    std::unique_ptr<tools::LibrarySession> session_;
    std::chrono::steady_clock::time_point initialisedAt_;
    std::vector<tools::DeviceId> devices_;
    std::vector<std::unique_ptr<std::mutex>> deviceLocks_;  // one per device, same order

    std::mutex errorsMutex_;
    std::map<std::string, std::uint64_t> readErrors_;  // by "type:index", across initialisations
};

}  // namespace crvmon::exporter
