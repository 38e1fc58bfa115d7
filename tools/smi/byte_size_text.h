// Memory sizes as a person reads them at a glance: "16.0 GiB", "272.0 MiB", "512 B".
#pragma once

#include <string>

namespace crvmon::smi {

std::string byteSizeText(long long bytes);

}  // namespace crvmon::smi
