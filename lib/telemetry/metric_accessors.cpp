#include "lib/telemetry/metric_accessors.h"

#include <array>
#include <optional>
#include <utility>

#include "lib/common/core_id.h"
#include "lib/common/target_family.h"
#include "lib/monitor/monitor_table.h"
#include "lib/veltara/client/telemetry_queries.h"

namespace crvmon::accessors {

namespace {

// Orvek busy times are given in millionths of the window.
constexpr std::int64_t kOrvekWindow = 1'000'000;

// The card's monitor, or null (CRVMON_STATUS_NOT_SUPPORTED) when the device is no Orvek card
// or has no monitor.
OrvekMonitor* orvekMonitor(const DeviceRecord& device, crvmonStatusCode_t& status) {
    status = CRVMON_STATUS_OK;
    OrvekMonitor* monitor =
        isOrvekTarget(device.targetType) ? monitorTable().lookup(device.monitorKey) : nullptr;
    if (monitor == nullptr) status = CRVMON_STATUS_NOT_SUPPORTED;
    return monitor;
}

// The card's refreshed telemetry, or null (CRVMON_STATUS_NOT_SUPPORTED).
const MonitorInfo* orvekInfo(const DeviceRecord& device, crvmonStatusCode_t& status) {
    OrvekMonitor* monitor = orvekMonitor(device, status);
    const MonitorInfo* info = monitor != nullptr ? monitor->getInfo() : nullptr;
    if (info == nullptr) status = CRVMON_STATUS_NOT_SUPPORTED;
    return info;
}

// An Orvek value drawn from the refreshed telemetry, or `absent` with
// CRVMON_STATUS_NOT_SUPPORTED, also when the refresh could not read the value's registers
// (`unread`, a MonitorInfo::Unread bit).
template <class Result, class Read>
Result fromInfo(const DeviceRecord& device, crvmonStatusCode_t& status, std::uint32_t unread,
                Result absent, Read read) {
    const MonitorInfo* info = orvekInfo(device, status);
    if (info == nullptr) return absent;
    if ((info->unread & unread) != 0) {
        status = CRVMON_STATUS_NOT_SUPPORTED;
        return absent;
    }
    return read(*info);
}

const MonitorUsage* orvekUsage(const DeviceRecord& device, crvmonStatusCode_t& status) {
    OrvekMonitor* monitor = orvekMonitor(device, status);
    const MonitorUsage* usage = monitor != nullptr ? monitor->getUsage() : nullptr;
    if (usage == nullptr) status = CRVMON_STATUS_NOT_SUPPORTED;
    return usage;
}

// A Veltara query's answer, or `absent` with CRVMON_STATUS_NOT_SUPPORTED when the service did
// not give one.
template <class T>
T answered(std::optional<T> answer, T absent, crvmonStatusCode_t& status) {
    if (!answer) status = CRVMON_STATUS_NOT_SUPPORTED;
    return answer ? std::move(*answer) : std::move(absent);
}

}  // namespace

int busClock(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBusClock, -1,
                    [](const MonitorInfo& i) { return static_cast<int>(i.busClock); });
}

int chipId(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardStatus, -1,
                    [](const MonitorInfo& i) { return i.chipId(); });
}

int fanDuty(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardStatus, -1,
                    [](const MonitorInfo& i) { return i.fanDuty(); });
}

int pcieSwitchTemperature(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardStatus, -1,
                    [](const MonitorInfo& i) { return i.switchTemperature(); });
}

int npuClock(const DeviceRecord& d, crvmonStatusCode_t& s) {
    if (isVeltaraTarget(d.targetType)) {
        s = CRVMON_STATUS_OK;
        return answered(veltara::veltara_get_npu_clock(d), -1, s);
    }
    return fromInfo(d, s, MonitorInfo::kUnreadNpuClock, -1,
                    [](const MonitorInfo& i) { return static_cast<int>(i.npuClock); });
}

int temperature(const DeviceRecord& d, crvmonStatusCode_t& s) {
    if (isVeltaraTarget(d.targetType)) {
        s = CRVMON_STATUS_OK;
        return answered(veltara::veltara_get_temperature(d), -1, s);
    }
    return fromInfo(d, s, MonitorInfo::kUnreadThermal, -1,
                    [](const MonitorInfo& i) { return i.chipTemperature(); });
}

double totalCurrent(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.totalCurrent}; });
}

double totalPower(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.totalPower}; });
}

double totalVoltage(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadBoardPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.totalVoltage}; });
}

double extraPmicCurrent(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadExtraPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.extraPmicCurrent}; });
}

double extraPmicPower(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadExtraPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.extraPmicPower}; });
}

double extraPmicVoltage(const DeviceRecord& d, crvmonStatusCode_t& s) {
    return fromInfo(d, s, MonitorInfo::kUnreadExtraPower, -1.0,
                    [](const MonitorInfo& i) { return double{i.extraPmicVoltage}; });
}

crvmonExtraPmicId_t extraPmicId(const DeviceRecord& d, crvmonStatusCode_t& s) {
    OrvekMonitor* monitor = orvekMonitor(d, s);
    if (monitor == nullptr) return CRVMON_EXTRA_PMIC_0;
    const std::optional<crvmonExtraPmicId_t> id = monitor->getExtraPmicId();
    if (!id) s = CRVMON_STATUS_NOT_SUPPORTED;
    return id.value_or(CRVMON_EXTRA_PMIC_0);
}

crvmonStatusCode_t setExtraPmicId(const DeviceRecord& d, crvmonExtraPmicId_t id) {
    if (d.targetType != CRVMON_TARGET_ORVEK_PCIE) return CRVMON_STATUS_NOT_SUPPORTED;
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    OrvekMonitor* monitor = orvekMonitor(d, status);
    if (monitor != nullptr && !monitor->setExtraPmicId(id)) status = CRVMON_STATUS_NOT_SUPPORTED;
    return status;
}

long long memoryUsage(const DeviceRecord& d, crvmonStatusCode_t& s) {
    if (isVeltaraTarget(d.targetType)) {
        s = CRVMON_STATUS_OK;
        return answered<long long>(veltara::veltara_get_memory_usage(d), -1, s);
    }
    if (!isOrvekTarget(d.targetType)) {
        s = CRVMON_STATUS_NOT_SUPPORTED;
        return -1;
    }
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const MonitorUsage* usage = orvekUsage(d, status);
    if (usage == nullptr) {
        s = status;
        return -1;
    }
    return static_cast<long long>(usage->memoryUsed);
}

std::vector<crvmonCoreInfo_t> orvekCoreInfos(const std::array<double, 10>& busy) {
    constexpr int kOrder[5] = {4, 0, 1, 2, 3};  // the cluster's whole entry first
    std::vector<crvmonCoreInfo_t> infos;
    for (int cluster = 0; cluster < 2; ++cluster) {
        const std::size_t first = 5 * static_cast<std::size_t>(cluster);  // its five entries
        const double whole = busy[first + 4];
        for (int position = 0; position < 5; ++position) {
            const int entry = kOrder[position];
            const double value =
                entry == 4 ? whole : whole + busy[first + static_cast<std::size_t>(entry)];
            const CoreId id = makeCoreId(cluster, position);
            infos.push_back(crvmonCoreInfo_t{
                id.cluster, id.core,
                static_cast<std::int64_t>(value * static_cast<double>(kOrvekWindow)),
                kOrvekWindow});
        }
    }
    return infos;
}

std::vector<crvmonCoreInfo_t> coreInfos(const DeviceRecord& d, crvmonStatusCode_t& s) {
    if (isVeltaraTarget(d.targetType)) {
        return answered(veltara::veltara_get_core_infos(d), std::vector<crvmonCoreInfo_t>{}, s);
    }
    if (!isOrvekTarget(d.targetType)) return {};
    crvmonStatusCode_t status = CRVMON_STATUS_OK;
    const MonitorUsage* usage = orvekUsage(d, status);
    if (usage != nullptr && !usage->busyKnown) status = CRVMON_STATUS_NOT_SUPPORTED;
    if (usage == nullptr || !usage->busyKnown) {
        s = status;  // no usage data: no list, rather than ten made-up zeros
        return {};
    }
    return orvekCoreInfos(usage->busy);
}

double totalUtilization(const DeviceRecord& d, crvmonStatusCode_t& s) {
    s = CRVMON_STATUS_OK;
    if (!isOrvekTarget(d.targetType) && !isVeltaraTarget(d.targetType)) {
        s = CRVMON_STATUS_NOT_SUPPORTED;
        return -1.0;
    }
    crvmonStatusCode_t listStatus = CRVMON_STATUS_OK;
    const std::vector<crvmonCoreInfo_t> infos = coreInfos(d, listStatus);
    double sum = 0.0;
    int count = 0;
    for (const crvmonCoreInfo_t& info : infos) {
        if (info.core == CRVMON_CORE_WHOLE_CLUSTER) continue;
        if (info.totalTime == 0) {
            count = 0;
            break;
        }
        sum += static_cast<double>(info.busyTime) / static_cast<double>(info.totalTime);
        ++count;
    }
    if (count == 0) {
        s = CRVMON_STATUS_NOT_SUPPORTED;
        return -1.0;
    }
    const double percent = sum / count * 100.0;
    return 100.0 < percent ? 100.0 : percent;
}

std::vector<crvmonProcessInfo_t> processInfos(const DeviceRecord& d, crvmonStatusCode_t& s) {
    s = CRVMON_STATUS_OK;
    if (!isVeltaraTarget(d.targetType)) {
        s = CRVMON_STATUS_NOT_SUPPORTED;
        return {};
    }
    return answered(veltara::veltara_get_process_infos(d), std::vector<crvmonProcessInfo_t>{}, s);
}

}  // namespace crvmon::accessors
