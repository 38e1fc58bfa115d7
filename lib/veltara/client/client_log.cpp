#include "lib/veltara/client/client_log.h"

#include <cstdarg>

namespace crvmon::veltara {

std::atomic<int> client_log_level{0};

void setClientLogLevel(int level) {
    client_log_level.store(level, std::memory_order_relaxed);
}

// printf-style, so that the compiler checks each call's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void client_log(int level, std::FILE* stream, const char* tag, const char* function, unsigned line,
                const char* format, ...) {
    if (level > client_log_level.load(std::memory_order_relaxed) || stream == nullptr) return;
    // One line in one write, so that lines of concurrent commands do not interleave.
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    char text[768];
    std::snprintf(text, sizeof text, "[%s] %s (%s:%u)\n", tag, message, function, line);
    std::fputs(text, stream);
    std::fflush(stream);
}

}  // namespace crvmon::veltara
