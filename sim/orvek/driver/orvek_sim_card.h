/* One simulated Orvek card as the driver holds it: bytes and register words uploaded by the
 * user-mode simulator, and the rules that answer the card's three control requests from them.
 * Plain C with no library calls beyond memcpy and memset, so that the kernel-mode driver and the
 * in-process card model answer with the same code. Every length and index taken from an upload
 * or a request is bounded here. */
#ifndef CRVMON_ORVEK_SIM_CARD_H
#define CRVMON_ORVEK_SIM_CARD_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVEK_SIM_MAX_CARDS 64u      /* device indexes 0-63 */
#define ORVEK_SIM_IDENTITY_MAX 1040u /* the larger identity form */
#define ORVEK_SIM_USAGE_MAX 10352u   /* a whole usage reply */
#define ORVEK_SIM_REGISTER_MAX 16u
#define ORVEK_SIM_SELECTOR_NONE 0xFFFFFFFFu

/* The library's wire names, codes and sizes, written again here for the C of the kernel-mode
 * driver; a compile-time check in the card model holds them to the library's wire header. */

/* Card i's device object: this name, followed by i in decimal when i > 0. */
#define ORVEK_SIM_DEVICE_BASE_NAME "corvanta_pcie"

/* Control codes the card answers. */
#define ORVEK_SIM_IOCTL_DEVICE_INFO 0x00222000u
#define ORVEK_SIM_IOCTL_REGISTER 0x00222012u
#define ORVEK_SIM_IOCTL_USAGE 0x00222042u

/* Register request: operation, address, value (u32 each, little-endian). */
#define ORVEK_SIM_REGISTER_REQUEST_SIZE 12u
#define ORVEK_SIM_REGISTER_READ 2u
#define ORVEK_SIM_REGISTER_WRITE 3u

/* Faults of one register, bits of orvek_sim_register.fails. */
#define ORVEK_SIM_REGISTER_SILENT 1u         /* reads transfer nothing, writes are dropped */
#define ORVEK_SIM_REGISTER_REFUSES_WRITES 2u /* writes fail: the driver completes them in error */

struct orvek_sim_register {
    uint32_t address;
    uint32_t value;
    uint32_t fails; /* ORVEK_SIM_REGISTER_... bits */
};

/* What the simulator uploads about a card, all at once; the usage bytes follow separately as
 * the activity rings move. */
struct orvek_sim_card_image {
    uint32_t device_index; /* below ORVEK_SIM_MAX_CARDS */

    /* The identity request transfers identity_length bytes when its buffer holds at least
     * identity_capacity bytes, and nothing otherwise. */
    uint32_t identity_capacity;
    uint32_t identity_length;
    uint8_t identity[ORVEK_SIM_IDENTITY_MAX];

    uint32_t register_count;
    struct orvek_sim_register registers[ORVEK_SIM_REGISTER_MAX];

    /* A write that changes bits shift..shift+1 of the selector register loads the extra power
     * monitor's two words for the new selector. ORVEK_SIM_SELECTOR_NONE: no selector. */
    uint32_t selector_address;
    uint32_t selector_shift;
    uint32_t extra_first_address;
    uint32_t extra_second_address;
    uint32_t extra_words[4][2];

    /* The usage request transfers usage_length bytes when its buffer holds that many. */
    uint32_t usage_length;
};

struct orvek_sim_card {
    struct orvek_sim_card_image image;
    uint8_t usage[ORVEK_SIM_USAGE_MAX];
};

/* Results of orvek_sim_card_answer for a code the card does not know, and for a request the
 * card fails (the driver completes both with an error status). */
#define ORVEK_SIM_UNKNOWN_CODE (-1)
#define ORVEK_SIM_REQUEST_FAILED (-2)

/* Replaces the card's state with an uploaded image (usage bytes zeroed). Returns 0, or -1 and
 * leaves the card as it was when the image breaks a bound. */
int orvek_sim_card_load(struct orvek_sim_card* card, const void* image, size_t length);

/* Replaces the usage bytes; bytes beyond length read as zero. -1 when length is too large. */
int orvek_sim_card_set_usage(struct orvek_sim_card* card, const void* bytes, size_t length);

/* Answers one request: reads the input, then writes at most output_capacity bytes to output
 * (input and output may be the same buffer). Returns the transferred count, which is 0 for
 * malformed requests, unknown or silent registers and buffers too small; or
 * ORVEK_SIM_UNKNOWN_CODE, or ORVEK_SIM_REQUEST_FAILED for a write the register refuses. */
long orvek_sim_card_answer(struct orvek_sim_card* card, uint32_t code, const uint8_t* input,
                           uint32_t input_length, uint8_t* output, uint32_t output_capacity);

/* The register's word as it stands; 0 when the card has no such register. */
uint32_t orvek_sim_card_register(const struct orvek_sim_card* card, uint32_t address);

#ifdef __cplusplus
}
#endif

#endif
