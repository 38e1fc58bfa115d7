// Identity replies, byte for byte: the version code and the older form's table.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "lib/orvek/identity_block.h"
#include "lib/orvek/orvek_discovery.h"

namespace crvmon::orvek {
namespace {

// Little-endian bytes at an offset of a zeroed buffer.
template <std::size_t N>
void put(std::array<std::uint8_t, N>& buffer, std::size_t offset,
         std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) buffer.at(offset++) = b;
}

TEST(IdentityBlock, VersionCodeWithoutPatchAndWithAMinorThatSpills) {
    MonitorInfo info;
    info.subVendorId = (1 << 10) | 2;
    info.firmwareBuild = 0x00040000;  // bit 31 clear: no patch
    EXPECT_EQ(firmwareVersionCode(info), 0x01020000u);
    info.firmwareBuild = 0x80040000;
    EXPECT_EQ(firmwareVersionCode(info), 0x01020004u);
    info.subVendorId = (1 << 10) | 0x301;  // minor 769 reaches into the major's bits
    EXPECT_EQ(firmwareVersionCode(info), 0x03010004u);
}

TEST(IdentityBlock, TheOlderTableNamesThisCardsEntry) {
    std::array<std::uint8_t, 1040> table{};
    put(table, 0, {1, 0, 7, 0, 0, 0, 2, 0});  // driver 1.7.0.2
    put(table, 8, {5, 0, 0, 0});              // entry 5
    const std::size_t entry = 16 + 5 * 16;
    put(table, entry, {0x52, 0x1e, 0x00, 0x02, 0x02, 0x04, 0x31, 0x00});
    put(table, entry + 8, {0xaa, 0xbb, 0xcc, 0xdd, 3, 16, 2, 0xee});
    put(table, 16 + 4 * 16, {0x11, 0x11, 0x22, 0x22});  // a neighbour, not ours

    const auto info = parseLegacyTable(table);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->driverVersion, (std::array<std::uint16_t, 4>{1, 7, 0, 2}));
    EXPECT_EQ(std::tuple(info->vendorId, info->deviceId, info->subVendorId, info->subDeviceId),
              std::tuple(0x1e52, 0x0200, 0x0402, 0x0031));
    EXPECT_EQ(std::tuple(info->pcieGen, info->pcieLanes, info->pcieRev), std::tuple(3, 16, 2));
    // The older form carries no firmware word, class code (all ones: not reported) or location.
    EXPECT_EQ(info->firmwareBuild, 0u);
    EXPECT_EQ(info->pcieClassCode, 0xFFFFFFFFu);
    EXPECT_EQ(info->locationKind, 0);
}

TEST(IdentityBlock, AnEntryIndexOutsideTheTableIsRefused) {
    for (std::uint32_t index : {64u, 0xFFFFFFFFu, 0x80000000u, 1000u}) {
        std::array<std::uint8_t, 1040> table{};
        put(table, 8,
            {static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
             static_cast<std::uint8_t>(index >> 16), static_cast<std::uint8_t>(index >> 24)});
        EXPECT_FALSE(parseLegacyTable(table).has_value()) << index;
    }
    std::array<std::uint8_t, 1040> last{};
    put(last, 8, {63, 0, 0, 0});
    EXPECT_TRUE(parseLegacyTable(last).has_value());
}

}  // namespace
}  // namespace crvmon::orvek
