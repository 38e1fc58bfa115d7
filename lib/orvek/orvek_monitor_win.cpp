#include "lib/orvek/orvek_monitor_win.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "lib/orvek/busy_fraction.h"
#include "lib/orvek/identity_block.h"
#include "lib/orvek/orvek_wire.h"
#include "lib/orvek/register_decoding.h"

namespace crvmon {

using namespace orvek;
using namespace orvek::wire;

namespace {

// The driver version this library was written against; only its major must match.
constexpr int kReferenceDriverMajor = 1;
constexpr int kReferenceDriverMinor = 8;

// An unnamed event, initially signalled, owned by one request (or one open).
class RequestEvent {
  public:
    explicit RequestEvent(bool manualReset)
        : event_(CreateEventW(nullptr, manualReset ? TRUE : FALSE, TRUE, nullptr)) {}
    ~RequestEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    RequestEvent(const RequestEvent&) = delete;
    RequestEvent& operator=(const RequestEvent&) = delete;
    HANDLE get() const { return event_; }

  private:
    HANDLE event_;
};

CoreActivity readRing(const std::uint8_t* ring) {
    CoreActivity activity;
    activity.head = ring[usage_reply::kHead];
    activity.count = ring[usage_reply::kCount];
    for (std::size_t i = 0; i < usage_reply::kIntervalCount; ++i) {
        const std::uint8_t* interval =
            ring + usage_reply::kIntervals + i * usage_reply::kIntervalSize;
        activity.intervals[i] = {load64(interval), load64(interval + 8)};
    }
    return activity;
}

}  // namespace

OrvekMonitor_win::OrvekMonitor_win(std::int32_t deviceIndex) : OrvekMonitor(0) {
    if (scanDevices() > 0) open(deviceIndex);
}

OrvekMonitor_win::~OrvekMonitor_win() {
    close();
}

std::string OrvekMonitor_win::deviceObjectName(std::int32_t index) {
    return wire::deviceObjectName(index);
}

std::optional<DWORD> OrvekMonitor_win::request(DWORD code, void* input, DWORD inputSize,
                                               void* output, DWORD outputSize, HANDLE event) {
    if (event == nullptr) return std::nullopt;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD transferred = 0;
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(driver_, code, input, inputSize, output, outputSize,
                                      &returned, &overlapped);
    // A request the driver failed at once never signals its event: waiting for it would hang.
    if (!done && GetLastError() != ERROR_IO_PENDING) return std::nullopt;
    if (!GetOverlappedResult(driver_, &overlapped, &transferred, TRUE)) return std::nullopt;
    return std::min(transferred, outputSize);
}

bool OrvekMonitor_win::open(std::int32_t index) {
    close();
    deviceIndex_ = index;
    // Each card's own firmware decides where its selector is: one opened before (by the scan,
    // say) must not lend its code to a card of the older form, which carries none.
    versionCode_ = 0;
    const std::string name = deviceObjectName(index);
    HANDLE driver = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (driver == INVALID_HANDLE_VALUE || driver == nullptr) return false;
    driver_ = driver;

    RequestEvent event(false);  // one event serves both identity requests
    std::array<std::uint8_t, device_info::kSize> block{};
    if (request(kIoctlDeviceInfo, block.data(), device_info::kSize, block.data(),
                device_info::kSize, event.get())
            .value_or(0) > 0) {
        info_ = parseDeviceInfo(block);
        versionCode_ = firmwareVersionCode(info_);
        if (info_.driverVersion[0] == kReferenceDriverMajor) return true;
        std::printf("*E: Driver version does not matched, this reference driver version = %d.%d\n",
                    kReferenceDriverMajor, kReferenceDriverMinor);
        std::fflush(stdout);
        close();
        return false;
    }

    // Older drivers transfer nothing for the block and answer with their table instead; they
    // carry no firmware version, so the version code stays 0.
    std::vector<std::uint8_t> table(legacy_table::kSize, 0);
    if (request(kIoctlDeviceInfo, table.data(), legacy_table::kSize, table.data(),
                legacy_table::kSize, event.get())
            .value_or(0) != legacy_table::kSize) {
        close();
        return false;
    }
    auto legacy = parseLegacyTable(
        std::span<const std::uint8_t, legacy_table::kSize>(table.data(), legacy_table::kSize));
    if (!legacy) {
        close();
        return false;
    }
    info_ = *legacy;
    return true;
}

void OrvekMonitor_win::close() {
    if (driver_ != nullptr) CloseHandle(driver_);
    driver_ = nullptr;
}

void OrvekMonitor_win::select(std::int32_t index) {
    if (index != deviceIndex_) open(index);
}

std::optional<std::uint32_t> OrvekMonitor_win::readRegister(std::uint32_t address) {
    std::array<std::uint8_t, register_request::kSize> in{};
    store32(in.data() + register_request::kOperation, register_request::kRead);
    store32(in.data() + register_request::kAddress, address);
    std::array<std::uint8_t, 4> out{};
    RequestEvent event(true);
    const DWORD transferred =
        request(kIoctlRegister, in.data(), register_request::kSize, out.data(), 4, event.get())
            .value_or(0);
    // The bytes not transferred would read as zeros that the card never sent.
    if (transferred < out.size()) return std::nullopt;
    return load32(out.data());
}

bool OrvekMonitor_win::writeRegister(std::uint32_t address, std::uint32_t value) {
    std::array<std::uint8_t, register_request::kSize> in{};
    store32(in.data() + register_request::kOperation, register_request::kWrite);
    store32(in.data() + register_request::kAddress, address);
    store32(in.data() + register_request::kValue, value);
    RequestEvent event(true);
    // A write transfers nothing back: only the request's own outcome says it was done.
    return request(kIoctlRegister, in.data(), register_request::kSize, nullptr, 0, event.get())
        .has_value();
}

MonitorInfo* OrvekMonitor_win::getInfo() {
    if (!isOpen()) return nullptr;
    std::array<std::uint32_t, kRefreshRegisters.size()> words{};
    std::array<bool, kRefreshRegisters.size()> failed{};
    for (std::size_t i = 0; i < kRefreshRegisters.size(); ++i) {
        const std::optional<std::uint32_t> word = readRegister(kRefreshRegisters[i]);
        words[i] = word.value_or(0);
        failed[i] = !word;
    }
    decodeRegisters(words, info_);
    info_.unread = unreadFlags(failed);
    return &info_;
}

bool OrvekMonitor_win::setExtraPmicId(crvmonExtraPmicId_t id) {
    const std::uint32_t address = selectorRegister(versionCode_);
    const std::optional<std::uint32_t> read = readRegister(address);
    if (!read) return false;
    const std::uint32_t word =
        wordWithSelector(versionCode_, *read, static_cast<std::uint32_t>(id));
    if (!writeRegister(address, word)) return false;
    (usesLegacySelector(versionCode_) ? info_.pmicSelectLegacy : info_.pmicSelect) = word;
    return true;
}

std::optional<crvmonExtraPmicId_t> OrvekMonitor_win::getExtraPmicId() {
    const std::optional<std::uint32_t> word = readRegister(selectorRegister(versionCode_));
    if (!word) return std::nullopt;
    (usesLegacySelector(versionCode_) ? info_.pmicSelectLegacy : info_.pmicSelect) = *word;
    return static_cast<crvmonExtraPmicId_t>(selectorFromWord(versionCode_, *word));
}

MonitorUsage* OrvekMonitor_win::getUsage() {
    std::vector<std::uint8_t> reply(usage_reply::kSize, 0);
    RequestEvent event(false);
    const DWORD transferred =
        request(kIoctlUsage, nullptr, 0, reply.data(), usage_reply::kSize, event.get()).value_or(0);
    // 88 bytes is the driver's way of saying it has no activity data. A reply of any other
    // length short of the whole record would decode as zeros and garbage: no data either.
    if (transferred != usage_reply::kSize) return nullptr;

    const std::uint64_t timestamp = load64(reply.data() + usage_reply::kTimestamp);
    usage_.busyKnown = true;
    for (std::size_t core = 0; core < usage_reply::kRingCount; ++core) {
        const std::uint8_t* ring =
            reply.data() + usage_reply::kRings + core * usage_reply::kRingSize;
        const double fraction = busyFraction(readRing(ring), timestamp);
        // Rings the driver keeps consistently give 0 to 1. Anything else cannot be right, and
        // would overflow the core records' times: no busy data. The memory in use is a field
        // of its own and stands.
        if (!(fraction >= 0.0 && fraction <= 1.0)) usage_.busyKnown = false;
        usage_.busy[core] = usage_.busyKnown ? fraction : 0.0;
    }
    usage_.memoryUsed = load64(reply.data() + usage_reply::kMemoryUsed);
    return &usage_;
}

}  // namespace crvmon
