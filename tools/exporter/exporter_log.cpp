#include "tools/exporter/exporter_log.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "tools/common/utc_time.h"

#ifdef _WIN32
#include <process.h>
#define CRVMON_GETPID _getpid
#else
#include <unistd.h>
#define CRVMON_GETPID getpid
#endif

namespace crvmon::exporter {

const char* severityName(Severity severity) {
    switch (severity) {
        case Severity::kInfo: return "info";
        case Severity::kWarning: return "warning";
        case Severity::kError: return "error";
    }
    return "error";
}

void ExporterLog::addSink(Sink sink) {
    sinks_.push_back(std::move(sink));
}

void ExporterLog::write(Severity severity, const std::string& message) const {
    std::fprintf(stderr, "crvmon-exporter: %s\n", message.c_str());
    for (const Sink& sink : sinks_) sink(severity, message);
}

BoundedLogFile::BoundedLogFile(std::filesystem::path path, std::uintmax_t maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {}

bool BoundedLogFile::write(Severity severity, const std::string& message) {
    const std::string line = tools::utcTimestamp(std::chrono::system_clock::now()) + " [" +
                             std::to_string(CRVMON_GETPID()) + "] " + severityName(severity) +
                             ": " + message + '\n';
    const std::lock_guard lock(mutex_);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_, error);
    if (!error && size > 0 && size + line.size() > maxBytes_) {
        std::filesystem::path previous = path_;
        previous += ".1";
        std::filesystem::rename(path_, previous, error);  // replaces the older one
        if (error) return false;
    }
    std::ofstream file(path_, std::ios::binary | std::ios::app);
    file << line;
    file.flush();
    return static_cast<bool>(file);
}

}  // namespace crvmon::exporter
