// SIGHUP asks the exporter to read its --web.config.file again (where the system has SIGHUP).
#pragma once

namespace crvmon::exporter {

void catchReloadRequests();
// Whether a reload was asked for since the last call.
bool takeReloadRequest();

}  // namespace crvmon::exporter
