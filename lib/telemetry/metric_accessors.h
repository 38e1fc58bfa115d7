// One accessor per telemetry value: whether the device's target type has the value, and which
// backend answers it (the Orvek card's monitor, or a query to the Veltara host service).
// Accessors that take a status set it to CRVMON_STATUS_OK, or to CRVMON_STATUS_NOT_SUPPORTED
// when the device does not have the value.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "crvmon.h"
#include "lib/registry/device_record.h"

namespace crvmon::accessors {

int busClock(const DeviceRecord& device, crvmonStatusCode_t& status);
int npuClock(const DeviceRecord& device, crvmonStatusCode_t& status);
int chipId(const DeviceRecord& device, crvmonStatusCode_t& status);
int fanDuty(const DeviceRecord& device, crvmonStatusCode_t& status);
int temperature(const DeviceRecord& device, crvmonStatusCode_t& status);
int pcieSwitchTemperature(const DeviceRecord& device, crvmonStatusCode_t& status);

double totalCurrent(const DeviceRecord& device, crvmonStatusCode_t& status);
double totalPower(const DeviceRecord& device, crvmonStatusCode_t& status);
double totalVoltage(const DeviceRecord& device, crvmonStatusCode_t& status);
double extraPmicCurrent(const DeviceRecord& device, crvmonStatusCode_t& status);
double extraPmicPower(const DeviceRecord& device, crvmonStatusCode_t& status);
double extraPmicVoltage(const DeviceRecord& device, crvmonStatusCode_t& status);
crvmonExtraPmicId_t extraPmicId(const DeviceRecord& device, crvmonStatusCode_t& status);
crvmonStatusCode_t setExtraPmicId(const DeviceRecord& device, crvmonExtraPmicId_t id);

long long memoryUsage(const DeviceRecord& device, crvmonStatusCode_t& status);
std::vector<crvmonCoreInfo_t> coreInfos(const DeviceRecord& device, crvmonStatusCode_t& status);
double totalUtilization(const DeviceRecord& device, crvmonStatusCode_t& status);
std::vector<crvmonProcessInfo_t> processInfos(const DeviceRecord& device,
                                              crvmonStatusCode_t& status);

// The ten records of an Orvek card's busy fractions: per cluster its whole entry, then its four
// cores, each core counting the cluster-wide fraction too; times in millionths.
std::vector<crvmonCoreInfo_t> orvekCoreInfos(const std::array<double, 10>& busy);

}  // namespace crvmon::accessors
