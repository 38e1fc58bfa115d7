// A scrape in the Prometheus text exposition format, version 0.0.4: one gauge family per value,
// in base units, HELP and TYPE on each, label values escaped, and no sample at all for a value a
// device does not provide.
#pragma once

#include <string>
#include <string_view>

#include "tools/exporter/device_collector.h"

namespace crvmon::exporter {

constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// What the metrics read of each device.
unsigned metricsReadGroups();

std::string metricsText(const Scrape& scrape);

// A label value with backslash, double quote and line feed escaped.
std::string escapeLabelValue(std::string_view value);

}  // namespace crvmon::exporter
