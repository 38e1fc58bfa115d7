// The broker pipe's answer: the devices the host service serves, as the scenario lists them.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/model/veltara_device_config.h"

namespace crvmon::sim {

// Made-up entries of the listExtraEntries fault carry device numbers from this one on and the
// names "extra0", "extra1", ...; nothing serves them.
constexpr std::int32_t kExtraEntryDevNo = 10000;

// The count, then one 68-byte entry per device in scenario order and the made-up ones; a
// 64-byte name fills its field without a NUL.
std::vector<std::uint8_t> veltaraDeviceList(const std::vector<VeltaraDeviceConfig>& devices,
                                            const VeltaraServiceConfig& service);

}  // namespace crvmon::sim
