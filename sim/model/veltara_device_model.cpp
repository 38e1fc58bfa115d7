#include "sim/model/veltara_device_model.h"

#include <algorithm>
#include <utility>

#include "lib/veltara/client/veltara_wire.h"

namespace crvmon::sim {
namespace wire = veltara::wire;
namespace {

std::vector<std::uint8_t> word(std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    store32(bytes.data(), value);
    return bytes;
}

void storeVersion(std::uint8_t* p, const std::array<std::uint16_t, 4>& version) {
    for (std::size_t i = 0; i < 4; ++i) store16(p + 2 * i, version[i]);
}

}  // namespace

VeltaraDeviceModel::VeltaraDeviceModel(VeltaraDeviceConfig config, const SimClock& clock)
    : config_(std::move(config)),
      clock_(clock),
      // A slot whose start is 0 reads as never written: no item may begin at time 0.
      origin_(std::max<std::uint64_t>(clock.nowMicroseconds(), 1)),
      npuClockMHz_(config_.npuClockMHz) {
    validateVeltaraDeviceConfig(config_);
}

std::int32_t VeltaraDeviceModel::npuClockMHz() const {
    std::lock_guard lock(mutex_);
    return npuClockMHz_;
}

std::vector<std::uint8_t> VeltaraDeviceModel::driverInfo() const {
    namespace info = wire::driver_info;
    std::vector<std::uint8_t> bytes(wire::kDriverInfoSize, 0);
    storeVersion(bytes.data() + info::kVersion, config_.driverVersion);
    store32(bytes.data() + info::kFlags, config_.flags);
    store32(bytes.data() + info::kPages, config_.memoryPages);
    return bytes;
}

std::vector<std::uint8_t> VeltaraDeviceModel::hostInfo() const {
    namespace info = wire::host_info;
    std::vector<std::uint8_t> bytes(info::kSize, 0);
    storeVersion(bytes.data() + info::kVersion, config_.hostDriverVersion);
    store16(bytes.data() + info::kRevision, config_.hostRevision);
    return bytes;
}

std::vector<std::uint8_t> VeltaraDeviceModel::monitorInfo() const {
    namespace info = wire::monitor_info;
    const std::uint64_t now = clock_.nowMicroseconds();
    const ActivityLog log = activityLog(config_.work, config_.activityHead, origin_, now);
    std::vector<std::uint8_t> bytes(wire::kMonitorInfoSize, 0);
    for (std::size_t i = 0; i < kActivitySlots; ++i) {
        std::uint8_t* slot = bytes.data() + info::kSlots + info::kSlotSize * i;
        store64(slot + info::kSlotStart, static_cast<std::uint64_t>(log.slots[i].start));
        store64(slot + info::kSlotEnd, static_cast<std::uint64_t>(log.slots[i].end));
        store32(slot + info::kSlotPid, static_cast<std::uint32_t>(log.slots[i].pid));
    }
    store32(bytes.data() + info::kHead, static_cast<std::uint32_t>(log.head));
    store32(bytes.data() + info::kPagesInUse, config_.pagesInUse);
    store64(bytes.data() + info::kNow, now);
    return bytes;
}

std::vector<std::uint8_t> VeltaraDeviceModel::status(std::uint32_t command,
                                                     std::uint32_t success) const {
    const auto fault = config_.faults.status.find(command);
    return word(fault != config_.faults.status.end() ? fault->second : success);
}

std::vector<std::uint8_t> VeltaraDeviceModel::nextSnapshotRow(std::uint32_t size) {
    namespace record = wire::process_record;
    std::vector<std::uint8_t> row(record::kSize, 0);
    std::lock_guard lock(mutex_);
    if (config_.faults.endlessSnapshot && snapshotCursor_ &&
        *snapshotCursor_ == config_.processes.size()) {
        snapshotCursor_ = 0;
    }
    if (snapshotCursor_ && *snapshotCursor_ < config_.processes.size()) {
        const VeltaraProcessRow& process = config_.processes[(*snapshotCursor_)++];
        store32(row.data() + record::kPid, static_cast<std::uint32_t>(process.pid));
        store32(row.data() + record::kCount, process.count);
        store64(row.data() + record::kAmount, process.amount);
    } else {
        // Past the last row, and without a snapshot, every read finds the end.
        row[record::kFlags] = record::kEndFlag;
    }
    row.resize(size, 0);
    return row;
}

std::vector<std::uint8_t> VeltaraDeviceModel::answerDevice(std::uint32_t number, std::uint32_t size,
                                                           std::span<const std::uint8_t> payload) {
    namespace command = wire::command;
    switch (number) {
        case command::kVersion: {
            std::vector<std::uint8_t> bytes(wire::kVersionReplySize);
            store32(bytes.data(), config_.version[0]);
            store32(bytes.data() + 4, config_.version[1]);
            return bytes;
        }
        case command::kAllocCma:
        case command::kLockCore:
            // In-out records: the device hands the caller's record back as it came.
            return {payload.begin(), payload.end()};
        case command::kGetSignalType: return word(static_cast<std::uint32_t>(config_.signalType));
        case command::kGetTemperature:
            return word(static_cast<std::uint32_t>(config_.temperatureMilliC));
        case command::kGetClockNpu: return word(static_cast<std::uint32_t>(npuClockMHz()));
        case command::kGetMonitorInfo: return monitorInfo();
        case command::kDriverInfo: return driverInfo();
        case command::kSetClockNpu:
            if (size < 4) return status(number, kStatusInvalid);
            {
                std::lock_guard lock(mutex_);
                npuClockMHz_ = static_cast<std::int32_t>(load32(payload.data()));
            }
            return status(number, wire::kStatusSuccess);
        case command::kCaptureSnapshot: {
            std::lock_guard lock(mutex_);
            snapshotCursor_ = 0;
        }
            return status(number, wire::kStatusSuccess);
        case command::kReleaseSnapshot: {
            std::lock_guard lock(mutex_);
            snapshotCursor_.reset();
        }
            return status(number, wire::kStatusSuccess);
        case command::kReadSnapshot: return nextSnapshotRow(size);
        default:  // the remaining status commands: nothing to simulate behind them
            return status(number, wire::kStatusSuccess);
    }
}

VeltaraReply VeltaraDeviceModel::answer(std::span<const std::uint8_t> request) {
    if (request.size() < 4) return {VeltaraReply::Kind::Malformed, {}};
    const std::uint32_t code = load32(request.data());
    const std::uint32_t size = wire::commandSize(code);
    if (request.size() != 4 + std::size_t{size}) return {VeltaraReply::Kind::Malformed, {}};
    const std::span<const std::uint8_t> payload = request.subspan(4);

    const std::uint32_t type = wire::commandType(code);
    const std::uint32_t number = wire::commandNumber(code);
    std::uint32_t command = 0;
    if (type == wire::kDeviceType) {
        command = number;
    } else if (type == wire::kHostType) {
        command = kHostCommandBase + number;
    } else {
        return {VeltaraReply::Kind::None, {}};  // the client never sends other types
    }
    if (veltaraReplyShape(command) == VeltaraReplyShape::None)
        return {VeltaraReply::Kind::None, {}};
    if (config_.faults.silent.contains(command)) return {VeltaraReply::Kind::Withhold, {}};

    std::vector<std::uint8_t> bytes =
        command == kHostInfoCommand ? hostInfo() : answerDevice(number, size, payload);
    if (const auto length = config_.faults.replyLength.find(command);
        length != config_.faults.replyLength.end()) {
        bytes.resize(length->second, 0);
    }
    return {VeltaraReply::Kind::Send, std::move(bytes)};
}

}  // namespace crvmon::sim
