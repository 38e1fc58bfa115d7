// A promise of the library that an input broke: printed, then the process aborts, which
// libFuzzer records as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition, ...)                                             \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "%s:%d: broken promise: ", __FILE__, __LINE__); \
            std::fprintf(stderr, __VA_ARGS__);                                   \
            std::fputc('\n', stderr);                                            \
            std::abort();                                                        \
        }                                                                        \
    } while (false)
