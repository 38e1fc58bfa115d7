// The --web.config.file in force and the server it asks for, read again when the file or a file
// it names changes (a certificate rotated in place) or when asked (SIGHUP). A file that turns bad
// while the exporter runs is reported and the settings read before stay: never a half-secured
// server.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include "tools/exporter/exporter_log.h"
#include "tools/exporter/web_config.h"

namespace crvmon::exporter {

class ServedConfig {
  public:
    // Reads the file; an empty path is plain HTTP, open to all. Throws WebConfigError.
    explicit ServedConfig(std::string path);

    // The server of the settings in force. Throws WebConfigError.
    std::unique_ptr<httplib::Server> makeServer() const;

    // When the files changed, or `asked`: the server of the settings read again, which are then
    // in force. Null when nothing changed, or when the file is bad now (said once in the log).
    std::unique_ptr<httplib::Server> reloaded(bool asked, const ExporterLog& log);

    const char* scheme() const { return config_.tls ? "https" : "http"; }
    std::string summary() const;  // "TLS, basic auth for 2 user(s)"

  private:
    std::string path_;
    WebConfig config_;
    std::string contents_;     // of the files the settings in force were read from
    std::string lastProblem_;  // the last bad file's message, so that it is said once
};

}  // namespace crvmon::exporter
