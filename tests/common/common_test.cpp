// The (cluster, core) codes of utilisation records, and the device number at the end of a node
// path.
#include <gtest/gtest.h>

#include <stdexcept>

#include "lib/common/core_id.h"
#include "lib/common/trailing_number.h"

namespace crvmon {
namespace {

TEST(TrailingNumber, TakesTheDigitsAtTheEndOfThePath) {
    EXPECT_EQ(trailingNumber("/dev/orvek12"), 12);
    EXPECT_EQ(trailingNumber("/dev/veltara-usb007"), 7);
    EXPECT_EQ(trailingNumber("2147483647"), 2147483647);
    EXPECT_EQ(trailingNumber("/dev/orvek-3"), 3);

    try {
        trailingNumber("/dev/orvek");
        ADD_FAILURE() << "no digits accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid stoi argument");
    }
    try {
        trailingNumber("/dev/orvek2147483648");
        ADD_FAILURE() << "out of range accepted";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
    EXPECT_THROW(trailingNumber("/dev/orvek99999999999999999999999"), std::out_of_range);
}

}  // namespace
}  // namespace crvmon
