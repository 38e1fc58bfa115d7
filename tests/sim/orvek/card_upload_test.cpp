// What the simulated driver accepts from an upload and a request: every length and index it is
// given stays within the card, and a refused upload leaves the card as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "sim/orvek/driver/orvek_sim_card.h"

namespace {

orvek_sim_card_image soundImage() {
    orvek_sim_card_image image{};
    image.device_index = 5;
    image.identity_capacity = 128;
    image.identity_length = 128;
    image.identity[0] = 0x9C;
    image.register_count = 2;
    image.registers[0] = {0x100, 7, 0};
    image.registers[1] = {0x104, 0x30000000, 0};
    image.selector_address = 0x104;
    image.selector_shift = 28;
    image.extra_first_address = 0x100;
    image.extra_second_address = ORVEK_SIM_SELECTOR_NONE;
    image.extra_words[1][0] = 11;
    image.usage_length = 88;
    return image;
}

TEST(CardUpload, ImagesBreakingABoundAreRefusedAndChangeNothing) {
    orvek_sim_card card{};
    const orvek_sim_card_image sound = soundImage();
    ASSERT_EQ(orvek_sim_card_load(&card, &sound, sizeof sound), 0);

    const std::vector<std::function<void(orvek_sim_card_image&)>> breaks = {
        [](auto& i) { i.device_index = ORVEK_SIM_MAX_CARDS; },
        [](auto& i) { i.identity_length = ORVEK_SIM_IDENTITY_MAX + 1; },
        [](auto& i) { i.identity_capacity = 0xFFFFFFFF; },
        [](auto& i) { i.register_count = ORVEK_SIM_REGISTER_MAX + 1; },
        [](auto& i) { i.usage_length = ORVEK_SIM_USAGE_MAX + 1; },
        [](auto& i) { i.selector_shift = 31; },
    };
    for (std::size_t n = 0; n < breaks.size(); ++n) {
        orvek_sim_card_image broken = soundImage();
        broken.registers[0].value = 99;
        breaks[n](broken);
        EXPECT_EQ(orvek_sim_card_load(&card, &broken, sizeof broken), -1) << n;
        EXPECT_EQ(orvek_sim_card_register(&card, 0x100), 7u) << n;
    }
    EXPECT_EQ(orvek_sim_card_load(&card, &sound, sizeof sound - 1), -1);
    EXPECT_EQ(orvek_sim_card_load(&card, nullptr, sizeof sound), -1);

    std::vector<std::uint8_t> usage(ORVEK_SIM_USAGE_MAX + 1, 0xAB);
    EXPECT_EQ(orvek_sim_card_set_usage(&card, usage.data(), usage.size()), -1);
    EXPECT_EQ(orvek_sim_card_set_usage(&card, nullptr, 4), -1);
    EXPECT_EQ(orvek_sim_card_set_usage(&card, usage.data(), 10), 0);
    std::vector<std::uint8_t> out(88, 0xEE);
    ASSERT_EQ(orvek_sim_card_answer(&card, ORVEK_SIM_IOCTL_USAGE, nullptr, 0, out.data(), 88), 88);
    EXPECT_EQ(out[9], 0xAB);
    EXPECT_EQ(out[10], 0);  // beyond the uploaded bytes: zero, not what was there before
}

}  // namespace
