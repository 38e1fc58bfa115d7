// GET /: a self-contained page (no external assets) that shows one machine live from
// /api/v1/devices.
#pragma once

#include <string_view>

namespace crvmon::exporter {

std::string_view livePageHtml();

}  // namespace crvmon::exporter
