// --set-extra-pmic TYPE:INDEX=ID: selects the extra power monitor an Orvek card's extra-PMIC
// readings come from, and confirms it by reading the selection back.
#pragma once

#include <optional>
#include <string_view>

#include "tools/common/device_id.h"

namespace crvmon::smi {

struct ExtraPmicSetting {
    tools::DeviceId id;
    int pmic = 0;  // 0-3
};

// nullopt unless the text is TYPE:INDEX=ID with ID 0-3.
std::optional<ExtraPmicSetting> parseExtraPmicSetting(std::string_view text);

// Applies it and prints the outcome (standard output) or the failure (standard error). The
// library must be initialised. Returns the exit code.
int applyExtraPmicSetting(const ExtraPmicSetting& setting);

}  // namespace crvmon::smi
