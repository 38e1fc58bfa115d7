// What a leak would raise: the process's open descriptors (Linux) or file and section handles
// (Windows), and the bytes it has allocated where the allocator can tell (the sanitizers'
// allocators, or glibc's).
#pragma once

#include <optional>

#include "tests/support/open_handle_count.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#include <cstddef>
// The sanitizers' runtimes export it; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#define CRVMON_SANITIZER_ALLOCATOR 1
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace crvmon::soak {

struct ResourceLevel {
    int handles = 0;
    std::optional<long long> bytes;

    static ResourceLevel now() {
        ResourceLevel level;
        level.handles = openHandleCount();
#if defined(CRVMON_SANITIZER_ALLOCATOR)
        level.bytes = static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#elif defined(__GLIBC__)
        level.bytes = static_cast<long long>(mallinfo2().uordblks);
#endif
        return level;
    }
};

}  // namespace crvmon::soak
