/* The C side of getter_bench.py: one getter called in a loop from C, inside the Python process
 * and on the library instance the binding initialised, so both sides read the same devices
 * through the same connections in the same run. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime under -std=c11 */
#include <time.h>

#include "crvmon.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Seconds for `calls` calls of crvmonGetTemperature on one device; -1 when one fails (the
 * library not initialised here would mean a second instance of it, not the binding's). */
__attribute__((visibility("default"))) double crvmon_bench_temperature(int type, int index,
                                                                       int calls) {
    const double start = now();
    for (int i = 0; i < calls; ++i) {
        int value = 0;
        if (crvmonGetTemperature((crvmonTargetDeviceType_t)type, index, &value) !=
            CRVMON_STATUS_OK) {
            return -1.0;
        }
    }
    return now() - start;
}
