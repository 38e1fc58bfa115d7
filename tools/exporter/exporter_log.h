// What the exporter tells its operator: that it serves, that it stopped, and every failure (a port
// taken, the library's initialisation failed, no device). Always on standard error; as a Windows
// service also in its log file and the system's event log, which sinks receive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace crvmon::exporter {

enum class Severity { kInfo, kWarning, kError };

const char* severityName(Severity severity);

class ExporterLog {
  public:
    using Sink = std::function<void(Severity, const std::string& message)>;

    // Before the first message: sinks are not guarded against a message written beside them.
    void addSink(Sink sink);
    // "crvmon-exporter: MESSAGE" on standard error, then the message to every sink.
    void write(Severity severity, const std::string& message) const;

  private:
    std::vector<Sink> sinks_;
};

// A log file of bounded size: a line that would take it past `maxBytes` first moves the file to
// PATH.1 (replacing the one there), so about twice the bound is kept at most. Each line is
// "2026-12-07T04:20:16.123Z [PID] SEVERITY: MESSAGE". Safe from several threads.
class BoundedLogFile {
  public:
    BoundedLogFile(std::filesystem::path path, std::uintmax_t maxBytes);

    // False when the line could not be written (no folder, no permission, disk full).
    bool write(Severity severity, const std::string& message);

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::uintmax_t maxBytes_;
    std::mutex mutex_;
};

}  // namespace crvmon::exporter
