// The library's diagnostic lines: printf-style text to a stream the caller names. Messages carry
// their own line ends.
#pragma once

#include <cstdio>

namespace crvmon {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void diagnosticPrint(std::FILE* stream, const char* format, ...);

}  // namespace crvmon
