// GET /: a self-contained page (no external assets) that shows one machine live from
// /api/v1/devices. It is written in page/: index.html, with page.css and page.js put in place
// of the lines that name them when the build writes it into the program
// (cmake/embed-live-page.cmake). Every text the script takes from the JSON reaches the DOM
// through textContent or setAttribute, never as markup, so a device's strings cannot inject
// elements.
#pragma once

#include <string_view>

namespace crvmon::exporter {

std::string_view livePageHtml();

}  // namespace crvmon::exporter
