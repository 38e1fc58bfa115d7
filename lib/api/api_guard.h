// Nothing is thrown across the library's boundary: an error escaping a public function's body
// becomes a status and the function's error value.
#pragma once

#include <utility>

#include "crvmon.h"

namespace crvmon {

template <class Result, class Body>
Result guarded(crvmonStatusCode_t& status, Result errorValue, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        status = CRVMON_STATUS_NOT_SUPPORTED;
        return errorValue;
    }
}

}  // namespace crvmon
