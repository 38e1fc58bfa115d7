// The card's identity as the driver hands it over: the 128-byte block and the older 1040-byte
// table, from any bytes. The fields the library derives from them must stay within what their
// bits can hold.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_check.h"
#include "lib/orvek/identity_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, 128> block{};
    std::copy_n(data, std::min(size, block.size()), block.begin());
    const crvmon::MonitorInfo info = crvmon::orvek::parseDeviceInfo(block);
    const std::uint32_t code = crvmon::orvek::firmwareVersionCode(info);
    FUZZ_REQUIRE((code >> 24) < 64, "firmware major %u from 6 bits", code >> 24);

    std::array<std::uint8_t, 1040> table{};
    std::copy_n(data, std::min(size, table.size()), table.begin());
    if (const auto legacy = crvmon::orvek::parseLegacyTable(table)) {
        FUZZ_REQUIRE((crvmon::orvek::firmwareVersionCode(*legacy) >> 24) < 64,
                     "firmware major from 6 bits");
    }
    return 0;
}
