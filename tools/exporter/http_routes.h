// The exporter's HTTP interface on cpp-httplib: GET /metrics, /api/v1/devices (all, or those
// ?id= names), /api/v1/devices/ID (one), /api/v1/history (the page's charts), /healthz and /.
// Ids are those crvmon-smi --id takes.
// Other paths answer 404, other methods on these paths 405.
#pragma once

#include <httplib.h>

#include "tools/exporter/device_collector.h"
#include "tools/exporter/device_history.h"

namespace crvmon::exporter {

void addRoutes(httplib::Server& server, DeviceCollector& collector, const DeviceHistory& history);

// The devices as JSON: an array of one object per device, every field of crvmon-smi's
// --query all, typed values and null for what a device lacks.
std::string devicesJson(const Scrape& scrape);

}  // namespace crvmon::exporter
