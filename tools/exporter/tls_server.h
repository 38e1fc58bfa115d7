// The server --web.config.file asks for: HTTPS with its TLS settings, basic auth on every path
// but /healthz when it names users, else plain HTTP as without the file.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>

#include "tools/exporter/web_config.h"

namespace crvmon::exporter {

// Throws WebConfigError when the certificate, the key or the client CA does not load, or the
// certificate does not match the key: never a server without the security the file asks for.
// `path` is the file's, for the message.
std::unique_ptr<httplib::Server> makeServer(const WebConfig& config, const std::string& path);

}  // namespace crvmon::exporter
