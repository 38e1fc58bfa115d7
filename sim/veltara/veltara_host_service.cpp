#include "sim/veltara/veltara_host_service.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "lib/veltara/client/veltara_wire.h"
#include "sim/model/veltara_device_list.h"
#include "sim/veltara/pipe_server.h"

namespace crvmon::sim {
namespace wire = veltara::wire;
namespace {

// How often the watcher looks at the sim clock while a time-driven fault is pending.
constexpr auto kClockPoll = std::chrono::milliseconds(5);

constexpr std::size_t kLongestRequest = 4 + 0x3FFF;

const VeltaraServiceConfig& validated(const VeltaraServiceConfig& service) {
    validateVeltaraServiceConfig(service);
    return service;
}

VeltaraReply answerBroker(std::span<const std::uint8_t> request,
                          const std::vector<std::uint8_t>& list) {
    if (request.size() != 4 || load32(request.data()) != wire::device_list::kRequest) {
        return {VeltaraReply::Kind::Malformed, {}};
    }
    return {VeltaraReply::Kind::Send, list};
}

}  // namespace

VeltaraHostService::VeltaraHostService(const std::vector<VeltaraDeviceConfig>& devices,
                                       const VeltaraServiceConfig& service, const SimClock& clock,
                                       VeltaraReplyFilter filter)
    : service_(validated(service)),  // before the list is sized by it
      clock_(clock),
      start_(clock.nowMicroseconds()),
      deviceList_(veltaraDeviceList(devices, service)),
      filter_(std::move(filter)) {
    for (const VeltaraDeviceConfig& config : devices) {
        models_.push_back(std::make_unique<VeltaraDeviceModel>(config, clock));
    }
    if (service_.absentMs == 0) {
        try {
            bringUp();
        } catch (...) {
            for (HANDLE section : sections_) CloseHandle(section);
            throw;
        }
    }
    const bool held = !holds_.empty();
    if (!serving_.load() || held) {
        watcher_ = std::thread([this] { watchClock(); });
    }
}

VeltaraHostService::~VeltaraHostService() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopRequested_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    // Pipes before models, so that no request reaches a model being destroyed.
    broker_.reset();
    devicePipes_.clear();
    for (HANDLE section : sections_) CloseHandle(section);
}

std::uint64_t VeltaraHostService::elapsedMs() const {
    return (clock_.nowMicroseconds() - start_) / 1000;
}

VeltaraHostService::Answer VeltaraHostService::filtered(std::wstring_view pipe,
                                                        Answer answer) const {
    if (!filter_) return answer;
    return [filter = &filter_, pipe = std::wstring(pipe),
            answer = std::move(answer)](std::span<const std::uint8_t> request) {
        VeltaraReply reply = answer(request);
        (*filter)(pipe, request, reply);
        return reply;
    };
}

void VeltaraHostService::bringUp() {
    upMs_ = elapsedMs();
    // The devices before the broker: a client that finds the list finds the devices too.
    for (auto& model : models_) {
        const VeltaraDeviceConfig& config = model->config();
        VeltaraDeviceModel* device = model.get();
        const std::string section = wire::sectionName(config.name);
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kSectionSize, section.c_str());
        if (mapping) {
            sections_.push_back(mapping);
        } else {
            // On Windows a "Global\" section needs a privilege that a user may lack; the
            // library runs without the section, so the service runs on.
            std::fprintf(stderr, "Veltara host service: cannot create section %s (error %lu)\n",
                         section.c_str(), static_cast<unsigned long>(GetLastError()));
        }

        const std::wstring pipe = wire::devicePipeName(config.name);
        devicePipes_.push_back(std::make_unique<PipeServer>(
            PipeServer::Options{pipe, service_.pipeInstances, config.faults.brokenAfterRequests,
                                kLongestRequest},
            filtered(pipe, [device](std::span<const std::uint8_t> request) {
                return device->answer(request);
            })));
        if (config.faults.busyMs > 0) {
            devicePipes_.back()->hold();
            holds_.push_back({devicePipes_.back().get(), config.faults.busyMs});
        }
    }

    const std::vector<std::uint8_t>* list = &deviceList_;
    broker_ = std::make_unique<PipeServer>(
        PipeServer::Options{wire::kBrokerPipeName, service_.brokerInstances, 0, 4},
        filtered(wire::kBrokerPipeName, [list](std::span<const std::uint8_t> request) {
            return answerBroker(request, *list);
        }));
    if (service_.brokerBusyMs > 0) {
        broker_->hold();
        holds_.push_back({broker_.get(), service_.brokerBusyMs});
    }
    serving_.store(true);
}

void VeltaraHostService::watchClock() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!serving_.load() && elapsedMs() >= service_.absentMs) {
            lock.unlock();
            try {
                bringUp();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "Veltara host service: cannot start: %s\n", e.what());
                return;
            }
            lock.lock();
            continue;
        }
        const std::uint64_t sinceUp = serving_.load() ? elapsedMs() - upMs_ : 0;
        std::erase_if(holds_, [&](const Hold& hold) {
            if (!serving_.load() || sinceUp < hold.busyMs) return false;
            hold.server->release();
            return true;
        });
        if (serving_.load() && holds_.empty()) return;
        stopRequested_.wait_for(lock, kClockPoll);
    }
}

}  // namespace crvmon::sim
