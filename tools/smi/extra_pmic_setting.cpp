#include "tools/smi/extra_pmic_setting.h"

#include <cstdio>
#include <string>

#include "tools/common/device_sample.h"
#include "tools/smi/exit_codes.h"

namespace crvmon::smi {

std::optional<ExtraPmicSetting> parseExtraPmicSetting(std::string_view text) {
    const auto equals = text.rfind('=');
    if (equals == std::string_view::npos || equals + 2 != text.size()) return std::nullopt;
    const char digit = text.back();
    if (digit < '0' || digit > '3') return std::nullopt;
    const auto id = tools::parseDeviceId(text.substr(0, equals));
    if (!id) return std::nullopt;
    return ExtraPmicSetting{*id, digit - '0'};
}

int applyExtraPmicSetting(const ExtraPmicSetting& setting) {
    const std::string name = tools::formatDeviceId(setting.id);
    const crvmonStatusCode_t set = crvmonSetExtraPmicID(
        setting.id.type, setting.id.index, static_cast<crvmonExtraPmicId_t>(setting.pmic));
    if (set != CRVMON_STATUS_OK) {
        std::fprintf(stderr, "crvmon-smi: %s: cannot select extra PMIC %d: %s\n", name.c_str(),
                     setting.pmic, tools::statusText(set).c_str());
        return set == CRVMON_STATUS_TARGET_NOT_FOUND || set == CRVMON_STATUS_INVALID_ARGUMENT
                   ? exit_code::kNoDevice
                   : exit_code::kDeviceError;
    }
    crvmonExtraPmicId_t readBack = CRVMON_EXTRA_PMIC_0;
    const crvmonStatusCode_t read =
        crvmonGetExtraPmicId(setting.id.type, setting.id.index, &readBack);
    if (read != CRVMON_STATUS_OK) {
        std::fprintf(stderr,
                     "crvmon-smi: %s: extra PMIC %d selected, but reading it back failed: %s\n",
                     name.c_str(), setting.pmic, tools::statusText(read).c_str());
        return exit_code::kDeviceError;
    }
    if (static_cast<int>(readBack) != setting.pmic) {
        std::fprintf(stderr, "crvmon-smi: %s: extra PMIC %d selected, but the card reports %d\n",
                     name.c_str(), setting.pmic, static_cast<int>(readBack));
        return exit_code::kDeviceError;
    }
    std::printf("%s: extra PMIC %d selected (read back: %d)\n", name.c_str(), setting.pmic,
                static_cast<int>(readBack));
    return exit_code::kOk;
}

}  // namespace crvmon::smi
