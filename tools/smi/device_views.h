// The views crvmon-smi prints without --query: the device table and the process table.
#pragma once

#include <string>
#include <vector>

#include "tools/common/device_sample.h"

namespace crvmon::smi {

// What the two tables read of a device.
unsigned deviceTableGroups();
unsigned processTableGroups();

// One line per device: id, family, node, temperature, board power, NPU clock, fan, memory
// used/total, utilisation. "N/A" for values a device does not provide. At most maxWidth
// columns wide (0: no limit).
std::string deviceTable(const std::vector<tools::DeviceSample>& devices, int maxWidth);

// One line per process of every device: device, pid, busy time, window, share, quantity, amount.
// A line saying so when no device reports a process.
std::string processTable(const std::vector<tools::DeviceSample>& devices, int maxWidth);

}  // namespace crvmon::smi
