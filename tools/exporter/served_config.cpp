#include "tools/exporter/served_config.h"

#include <utility>

#include "tools/exporter/tls_server.h"

namespace crvmon::exporter {

ServedConfig::ServedConfig(std::string path) : path_(std::move(path)) {
    if (path_.empty()) return;
    config_ = loadWebConfig(path_);
    contents_ = webConfigContents(path_, config_);
}

std::unique_ptr<httplib::Server> ServedConfig::makeServer() const {
    return exporter::makeServer(config_, path_);
}

std::unique_ptr<httplib::Server> ServedConfig::reloaded(bool asked, const ExporterLog& log) {
    if (path_.empty()) return nullptr;
    if (!asked && webConfigContents(path_, config_) == contents_) return nullptr;
    try {
        WebConfig config = loadWebConfig(path_);
        auto server = exporter::makeServer(config, path_);
        config_ = std::move(config);
        contents_ = webConfigContents(path_, config_);
        lastProblem_.clear();
        return server;
    } catch (const WebConfigError& e) {
        // Asked again, or changed again while bad: the same problem is said once.
        if (e.what() != lastProblem_) {
            lastProblem_ = e.what();
            log.write(Severity::kError,
                      lastProblem_ + "; serving on with the settings read before");
        }
        return nullptr;
    }
}

std::string ServedConfig::summary() const {
    std::string text = config_.tls ? "TLS" : "no TLS";
    if (!config_.users.empty()) {
        text += ", basic auth for " + std::to_string(config_.users.size()) + " user(s)";
    }
    return text;
}

}  // namespace crvmon::exporter
