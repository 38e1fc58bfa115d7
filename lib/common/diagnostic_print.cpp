#include "lib/common/diagnostic_print.h"

#include <cstdarg>

namespace crvmon {

// printf-style, so that the compiler checks each call's arguments against its format.
// NOLINTNEXTLINE(cert-dcl50-cpp)
void diagnosticPrint(std::FILE* stream, const char* format, ...) {
    if (stream == nullptr || format == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

}  // namespace crvmon
