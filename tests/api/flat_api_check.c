/* The flat API from C, against libcrvmon itself: null pointers, short buffers and the two-call
 * arrays, with a simulated Orvek card and Veltara device. */
#include <stdio.h>
#include <string.h>

#include "crvmon.h"
#include "tests/support/simulation_for_c.h"

static int passed, failed;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (condition) {                                                            \
            ++passed;                                                               \
        } else {                                                                    \
            ++failed;                                                               \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
        }                                                                           \
    } while (0)

#define CARD CRVMON_TARGET_ORVEK_PCIE
#define USB CRVMON_TARGET_VELTARA_USB_KIND1

static const char* const kScenario =
    "[[orvek]]\nfirmware = \"1.2.3\"\nload = 0.5\n"
    "[[veltara]]\nkind = 1\n"
    "[[veltara.process]]\npid = 10\ncount = 1\namount = 5\n"
    "[[veltara.process]]\npid = 11\ncount = 2\namount = 6\n";

static void beforeInitialisation(void) {
    int value = 7;
    unsigned int count = 0;
    char text[8] = "keep";
    /* A null pointer is reported before anything else, even before crvmonInit. */
    CHECK(crvmonGetVendorId(CARD, 0, NULL) == CRVMON_STATUS_INVALID_ARGUMENT);
    CHECK(crvmonGetDeviceCount(NULL) == CRVMON_STATUS_INVALID_ARGUMENT);
    CHECK(crvmonGetNodeName(CARD, 0, NULL, 8) == CRVMON_STATUS_INVALID_ARGUMENT);
    CHECK(crvmonGetCoreInfos(CARD, 0, NULL, NULL) == CRVMON_STATUS_INVALID_ARGUMENT);
    CHECK(crvmonGetVendorId(CARD, 0, &value) == CRVMON_STATUS_NOT_INITIALIZED);
    CHECK(value == -1);
    CHECK(crvmonGetDriverVersion(CRVMON_DRIVER_ORVEK, text, sizeof text) ==
          CRVMON_STATUS_NOT_INITIALIZED);
    CHECK(strcmp(text, "keep") == 0);
    CHECK(crvmonGetProcessInfos(USB, 0, NULL, &count) == CRVMON_STATUS_NOT_INITIALIZED);
}

static void valuesAndBuffers(void) {
    int value = 0;
    double reading = 0;
    char text[16];
    /* Failures still fill the slot, with the error value. */
    CHECK(crvmonGetVendorId(CARD, 5, &value) == CRVMON_STATUS_INVALID_ARGUMENT);
    CHECK(value == -1);
    CHECK(crvmonGetTemperature(CRVMON_TARGET_VELTARA, 0, &value) == CRVMON_STATUS_TARGET_NOT_FOUND);
    CHECK(value == -1);
    CHECK(crvmonGetTotalPower(USB, 0, &reading) == CRVMON_STATUS_NOT_SUPPORTED);
    CHECK(reading == -1.0);
    CHECK(crvmonGetVendorId(CARD, 0, &value) == CRVMON_STATUS_OK);

    /* "1.2.3" needs six bytes with its terminator; five are too few and change nothing. */
    memset(text, 'x', sizeof text);
    CHECK(crvmonGetFirmwareVersion(CARD, 0, text, 5) == CRVMON_STATUS_BUFFER_TOO_SMALL);
    CHECK(text[0] == 'x');
    CHECK(crvmonGetFirmwareVersion(CARD, 0, text, 6) == CRVMON_STATUS_OK);
    CHECK(strcmp(text, "1.2.3") == 0);
    CHECK(text[6] == 'x');
    CHECK(crvmonGetNodeName(CARD, 0, text, 0) == CRVMON_STATUS_BUFFER_TOO_SMALL);
    CHECK(crvmonGetPcieSlot(USB, 0, text, sizeof text) == CRVMON_STATUS_NOT_SUPPORTED);
}

static void twoCallArrays(void) {
    crvmonCoreInfo_t cores[16];
    crvmonProcessInfo_t processes[4];
    unsigned int count = 0;

    CHECK(crvmonGetCoreInfos(CARD, 0, NULL, &count) == CRVMON_STATUS_OK);
    CHECK(count == 10);
    count = 4;
    CHECK(crvmonGetCoreInfos(CARD, 0, cores, &count) == CRVMON_STATUS_BUFFER_TOO_SMALL);
    CHECK(count == 4);
    count = 3;
    CHECK(crvmonGetCoreInfos(CARD, 0, NULL, &count) == CRVMON_STATUS_INVALID_ARGUMENT);
    count = 16;
    CHECK(crvmonGetCoreInfos(CARD, 0, cores, &count) == CRVMON_STATUS_OK);
    CHECK(count == 10);
    CHECK(cores[0].core == 0xfffe && cores[1].core == 1 && cores[5].cluster == 0x20000);

    count = 0;
    CHECK(crvmonGetProcessInfos(USB, 0, NULL, &count) == CRVMON_STATUS_OK);
    CHECK(count == 2);
    CHECK(crvmonGetProcessInfos(USB, 0, processes, &count) == CRVMON_STATUS_OK);
    CHECK(count == 2 && processes[0].pid == 10 && processes[1].amount == 6);

    count = 9;
    CHECK(crvmonGetProcessInfos(CARD, 0, processes, &count) == CRVMON_STATUS_NOT_SUPPORTED);
    CHECK(count == 9);
}

int main(void) {
    void* simulation;
    beforeInitialisation();
    simulation = crvmonTestStartSimulation(kScenario);
    CHECK(simulation != NULL);
    if (simulation != NULL) {
        CHECK(crvmonInit() == CRVMON_STATUS_OK);
        valuesAndBuffers();
        twoCallArrays();
        CHECK(crvmonShutdown() == CRVMON_STATUS_OK);
        crvmonTestStopSimulation(simulation);
    }
    CHECK(strcmp(crvmonStatusString(CRVMON_STATUS_BUFFER_TOO_SMALL), "buffer or array too small") ==
          0);
    CHECK(strcmp(crvmonStatusString((crvmonStatusCode_t)12345), "unknown status") == 0);
    printf("flat API from C: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
