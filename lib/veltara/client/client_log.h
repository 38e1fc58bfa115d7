// Diagnostic lines of the host-service client: "[TAG] message (function:line)". They are
// written only when client_log_level is raised above its initial 0.
#pragma once

#include <atomic>
#include <cstdio>

namespace crvmon::veltara {

// Process-wide threshold; nothing in the library raises it. Tests and tools that link the
// library's internals may, with setClientLogLevel.
extern std::atomic<int> client_log_level;
void setClientLogLevel(int level);

#if defined(__GNUC__)
__attribute__((format(printf, 6, 7)))
#endif
void client_log(int level, std::FILE* stream, const char* tag, const char* function,
                unsigned line, const char* format, ...);

}  // namespace crvmon::veltara

// A client message of level 1 on standard error, reported under `function`.
#define CRVMON_CLIENT_LOG(function, ...) \
    ::crvmon::veltara::client_log(1, stderr, "CLIENT", function, __LINE__, __VA_ARGS__)
