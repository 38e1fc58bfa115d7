// Times as the tools print them: UTC, ISO 8601, to the millisecond ("2026-12-07T04:20:16.123Z").
#pragma once

#include <chrono>
#include <string>

namespace crvmon::tools {

std::string utcTimestamp(std::chrono::system_clock::time_point when);

}  // namespace crvmon::tools
