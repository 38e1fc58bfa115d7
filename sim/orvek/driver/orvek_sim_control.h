/* The simulated Orvek driver's own control device, through which the user-mode simulator
 * uploads what each card answers. Shared by the kernel-mode driver and the simulator. */
#ifndef CRVMON_ORVEK_SIM_CONTROL_H
#define CRVMON_ORVEK_SIM_CONTROL_H

#include <stdint.h>

#include "sim/orvek/driver/orvek_sim_card.h"

/* "\\.\crvmon_orvek_sim" from user mode. */
#define ORVEK_SIM_CONTROL_DEVICE L"\\Device\\crvmon_orvek_sim"
#define ORVEK_SIM_CONTROL_LINK L"\\DosDevices\\crvmon_orvek_sim"
#define ORVEK_SIM_CONTROL_PATH "\\\\.\\crvmon_orvek_sim"

/* Device type 0x8C10 (a vendor's own range), METHOD_BUFFERED, any access. */
#define ORVEK_SIM_CONTROL_CODE(function) ((0x8C10u << 16) | ((uint32_t)(function) << 2))

/* Input: one struct orvek_sim_card_image. Creates the card's device object ("corvanta_pcie",
 * "corvanta_pcie1", ...) when it has none, then replaces its state. */
#define ORVEK_SIM_LOAD_CARD ORVEK_SIM_CONTROL_CODE(0x900)

/* Input: struct orvek_sim_usage_upload cut to its header plus length bytes. */
#define ORVEK_SIM_SET_USAGE ORVEK_SIM_CONTROL_CODE(0x901)

/* No input: deletes every card's device object. */
#define ORVEK_SIM_REMOVE_CARDS ORVEK_SIM_CONTROL_CODE(0x902)

#define ORVEK_SIM_USAGE_HEADER 8u

struct orvek_sim_usage_upload {
    uint32_t device_index;
    uint32_t length; /* at most ORVEK_SIM_USAGE_MAX */
    uint8_t bytes[ORVEK_SIM_USAGE_MAX];
};

#endif
