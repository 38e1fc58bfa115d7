#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "sim/model/orvek_card_model.h"
#include "sim/orvek/driver/orvek_sim_control.h"
#include "sim/orvek/kernel_driver_service.h"
#include "sim/orvek/simulated_orvek_driver.h"

namespace crvmon::sim {
namespace {

// How often the usage bytes follow a clock that moves by itself.
constexpr auto kRefreshPeriod = std::chrono::milliseconds(50);

// Held while a simulation serves the driver: a second one would replace the driver under the
// first. The mutex goes with its process, so one that ended without unloading blocks nothing.
class MachineClaim {
  public:
    MachineClaim() : mutex_(CreateMutexW(nullptr, FALSE, L"Global\\crvmon_orvek_sim")) {
        if (mutex_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
            if (mutex_ != nullptr) CloseHandle(mutex_);
            throw std::runtime_error(
                "simulated Orvek driver: another simulation serves it on this machine");
        }
    }
    ~MachineClaim() { CloseHandle(mutex_); }
    MachineClaim(const MachineClaim&) = delete;
    MachineClaim& operator=(const MachineClaim&) = delete;

  private:
    HANDLE mutex_;
};

}  // namespace

struct SimulatedOrvekDriver::Devices {
    Devices(const std::vector<OrvekCardConfig>& configs, const SimClock& clock);
    ~Devices();

    void control(DWORD code, const void* input, DWORD length, const char* what);
    void uploadUsage();
    void refreshUntilStopped();

    const SimClock& clock;
    std::vector<std::unique_ptr<OrvekCardModel>> cards;
    MachineClaim claim;
    KernelDriverService service;
    HANDLE controlDevice = INVALID_HANDLE_VALUE;
    std::mutex uploadMutex;                   // one upload at a time on the control device
    std::optional<std::uint64_t> uploadedAt;  // the clock's time of the last usage upload

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::uint64_t clockToken = 0;
    std::thread refresher;
};

SimulatedOrvekDriver::Devices::Devices(const std::vector<OrvekCardConfig>& configs,
                                       const SimClock& simClock)
    : clock(simClock), service(L"crvmon_orvek_sim", KernelDriverService::orvekDriverImage()) {
    for (const OrvekCardConfig& config : configs) {
        cards.push_back(std::make_unique<OrvekCardModel>(config, clock));
    }
    controlDevice = CreateFileA(ORVEK_SIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (controlDevice == INVALID_HANDLE_VALUE) {
        throw std::runtime_error(
            "simulated Orvek driver: its control device did not appear (error " +
            std::to_string(GetLastError()) + ")");
    }
    try {
        for (const auto& card : cards) {
            control(ORVEK_SIM_LOAD_CARD, &card->driverImage(), sizeof(orvek_sim_card_image),
                    "loading a card");
        }
        uploadUsage();
    } catch (...) {
        CloseHandle(controlDevice);
        throw;
    }
    clockToken = clock.subscribe([this] { uploadUsage(); });
    refresher = std::thread([this] { refreshUntilStopped(); });
}

SimulatedOrvekDriver::Devices::~Devices() {
    clock.unsubscribe(clockToken);
    {
        std::lock_guard lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
    refresher.join();
    DWORD ignored = 0;
    DeviceIoControl(controlDevice, ORVEK_SIM_REMOVE_CARDS, nullptr, 0, nullptr, 0, &ignored,
                    nullptr);
    CloseHandle(controlDevice);
    // The service goes last: stopping it unloads the driver.
}

void SimulatedOrvekDriver::Devices::control(DWORD code, const void* input, DWORD length,
                                            const char* what) {
    DWORD ignored = 0;
    if (!DeviceIoControl(controlDevice, code, const_cast<void*>(input), length, nullptr, 0,
                         &ignored, nullptr)) {
        throw std::runtime_error(std::string("simulated Orvek driver: ") + what +
                                 " failed (error " + std::to_string(GetLastError()) + ")");
    }
}

void SimulatedOrvekDriver::Devices::uploadUsage() {
    std::lock_guard lock(uploadMutex);
    // The usage bytes depend on the time alone: a clock that has not moved leaves them as sent.
    const std::uint64_t now = clock.nowMicroseconds();
    if (uploadedAt && *uploadedAt == now) return;
    uploadedAt = now;
    auto upload = std::make_unique<orvek_sim_usage_upload>();
    for (const auto& card : cards) {
        const std::vector<std::uint8_t> usage = card->usageReply();
        upload->device_index = static_cast<std::uint32_t>(card->deviceIndex());
        upload->length =
            static_cast<std::uint32_t>(std::min<std::size_t>(usage.size(), ORVEK_SIM_USAGE_MAX));
        std::copy_n(usage.begin(), upload->length, upload->bytes);
        DWORD ignored = 0;
        // A failed refresh leaves the previous bytes: the next one may succeed.
        DeviceIoControl(controlDevice, ORVEK_SIM_SET_USAGE, upload.get(),
                        ORVEK_SIM_USAGE_HEADER + upload->length, nullptr, 0, &ignored, nullptr);
    }
}

void SimulatedOrvekDriver::Devices::refreshUntilStopped() {
    std::unique_lock lock(stopMutex);
    while (!stopSignal.wait_for(lock, kRefreshPeriod, [this] { return stopping; })) {
        lock.unlock();
        uploadUsage();
        lock.lock();
    }
}

// Checked before the driver is loaded: its replies never pass through this process.
static const std::vector<OrvekCardConfig>& withoutFilter(const std::vector<OrvekCardConfig>& cards,
                                                         const OrvekReplyFilter& filter) {
    if (filter) {
        throw std::invalid_argument(
            "simulated Orvek driver: the kernel-mode driver takes no reply filter");
    }
    return cards;
}

SimulatedOrvekDriver::SimulatedOrvekDriver(const std::vector<OrvekCardConfig>& cards,
                                           const SimClock& clock, OrvekReplyFilter filter)
    : devices_(std::make_unique<Devices>(withoutFilter(cards, filter), clock)) {}

SimulatedOrvekDriver::~SimulatedOrvekDriver() = default;

}  // namespace crvmon::sim
