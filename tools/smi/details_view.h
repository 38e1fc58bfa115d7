// crvmon-smi --details: every value the library has for each device, one per line, named as
// --query names it.
#pragma once

#include <string>
#include <vector>

#include "tools/common/device_sample.h"

namespace crvmon::smi {

std::string detailsText(const std::vector<tools::DeviceSample>& devices);

}  // namespace crvmon::smi
