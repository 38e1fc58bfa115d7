#include "sim/orvek/driver/orvek_sim_card.h"

#include <string.h>

static uint32_t load32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void store32(uint8_t* p, uint32_t value) {
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

static int image_is_sound(const struct orvek_sim_card_image* image) {
    if (image->device_index >= ORVEK_SIM_MAX_CARDS) return 0;
    if (image->identity_length > ORVEK_SIM_IDENTITY_MAX) return 0;
    if (image->identity_capacity > ORVEK_SIM_IDENTITY_MAX) return 0;
    if (image->register_count > ORVEK_SIM_REGISTER_MAX) return 0;
    if (image->usage_length > ORVEK_SIM_USAGE_MAX) return 0;
    if (image->selector_address != ORVEK_SIM_SELECTOR_NONE && image->selector_shift > 30) return 0;
    return 1;
}

int orvek_sim_card_load(struct orvek_sim_card* card, const void* image, size_t length) {
    struct orvek_sim_card_image copy;
    if (card == NULL || image == NULL || length != sizeof copy) return -1;
    memcpy(&copy, image, sizeof copy);
    if (!image_is_sound(&copy)) return -1;
    card->image = copy;
    memset(card->usage, 0, sizeof card->usage);
    return 0;
}

int orvek_sim_card_set_usage(struct orvek_sim_card* card, const void* bytes, size_t length) {
    if (card == NULL || length > sizeof card->usage || (bytes == NULL && length != 0)) return -1;
    if (length != 0) memcpy(card->usage, bytes, length);
    memset(card->usage + length, 0, sizeof card->usage - length);
    return 0;
}

/* One lookup for the readers and the writers of a card: const in, writable out. */
static struct orvek_sim_register* find_register(const struct orvek_sim_card* card,
                                                uint32_t address) {
    uint32_t i;
    for (i = 0; i < card->image.register_count; ++i) {
        if (card->image.registers[i].address == address) {
            return (struct orvek_sim_register*)&card->image.registers[i];
        }
    }
    return NULL;
}

uint32_t orvek_sim_card_register(const struct orvek_sim_card* card, uint32_t address) {
    const struct orvek_sim_register* slot = find_register(card, address);
    return slot != NULL ? slot->value : 0;
}

static void set_register(struct orvek_sim_card* card, uint32_t address, uint32_t value) {
    struct orvek_sim_register* slot = find_register(card, address);
    if (slot != NULL) slot->value = value;
}

static long answer_identity(const struct orvek_sim_card* card, uint8_t* output,
                            uint32_t output_capacity) {
    const struct orvek_sim_card_image* image = &card->image;
    uint32_t length = image->identity_length;
    if (output_capacity < image->identity_capacity) return 0;
    if (length > output_capacity) length = output_capacity;
    if (length != 0) memcpy(output, image->identity, length);
    return (long)length;
}

static long answer_register(struct orvek_sim_card* card, const uint8_t* input,
                            uint32_t input_length, uint8_t* output, uint32_t output_capacity) {
    struct orvek_sim_card_image* image = &card->image;
    struct orvek_sim_register* slot;
    uint32_t operation, address, value;
    if (input == NULL || input_length != ORVEK_SIM_REGISTER_REQUEST_SIZE) return 0;
    operation = load32(input);
    address = load32(input + 4);
    value = load32(input + 8);

    slot = find_register(card, address);
    if (slot == NULL || (slot->fails & ORVEK_SIM_REGISTER_SILENT) != 0) return 0;
    if (operation == ORVEK_SIM_REGISTER_READ) {
        if (output_capacity < 4) return 0;
        store32(output, slot->value);
        return 4;
    }
    if (operation == ORVEK_SIM_REGISTER_WRITE) {
        const uint32_t before = slot->value;
        if ((slot->fails & ORVEK_SIM_REGISTER_REFUSES_WRITES) != 0) return ORVEK_SIM_REQUEST_FAILED;
        slot->value = value;
        if (address == image->selector_address) {
            const uint32_t old_selector = (before >> image->selector_shift) & 3u;
            const uint32_t new_selector = (value >> image->selector_shift) & 3u;
            if (old_selector != new_selector) {
                set_register(card, image->extra_first_address, image->extra_words[new_selector][0]);
                set_register(card, image->extra_second_address,
                             image->extra_words[new_selector][1]);
            }
        }
    }
    return 0;
}

static long answer_usage(const struct orvek_sim_card* card, uint8_t* output,
                         uint32_t output_capacity) {
    const uint32_t length = card->image.usage_length;
    if (output_capacity < length || length == 0) return 0;
    memcpy(output, card->usage, length);
    return (long)length;
}

long orvek_sim_card_answer(struct orvek_sim_card* card, uint32_t code, const uint8_t* input,
                           uint32_t input_length, uint8_t* output, uint32_t output_capacity) {
    if (output == NULL) output_capacity = 0;
    switch (code) {
        case ORVEK_SIM_IOCTL_DEVICE_INFO: return answer_identity(card, output, output_capacity);
        case ORVEK_SIM_IOCTL_REGISTER:
            return answer_register(card, input, input_length, output, output_capacity);
        case ORVEK_SIM_IOCTL_USAGE: return answer_usage(card, output, output_capacity);
        default: return ORVEK_SIM_UNKNOWN_CODE;
    }
}
