// Checks of the namespaced functions, which report their status through a reference.
#pragma once

#include <gtest/gtest.h>

#include "crvmon.h"

namespace crvmon::testing {

// A status no function reports (they run 0-6): a call that leaves the slot alone fails its check.
inline constexpr auto kNoStatus = static_cast<crvmonStatusCode_t>(7);

}  // namespace crvmon::testing

// Expects FUNCTION(ARGS..., status) to give VALUE and report STATUS; a failure names this line.
#define EXPECT_GIVES(value, status, function, ...)                              \
    do {                                                                        \
        crvmonStatusCode_t given_status_ = ::crvmon::testing::kNoStatus;        \
        EXPECT_EQ((function(__VA_ARGS__ __VA_OPT__(, ) given_status_)), value); \
        EXPECT_EQ(given_status_, status);                                       \
    } while (false)
