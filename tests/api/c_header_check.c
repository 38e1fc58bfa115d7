/* Compiled as C11: the public types are usable from C, with the layouts C callers rely on. */
#include <stddef.h>

#include "crvmon.h"

_Static_assert(sizeof(crvmonStatusCode_t) == 4, "status is 32 bits");
_Static_assert(sizeof(crvmonTargetDeviceType_t) == 4, "target type is 32 bits");
_Static_assert(sizeof(crvmonDriverType_t) == 4, "driver type is 32 bits");
_Static_assert(sizeof(crvmonExtraPmicId_t) == 4, "extra-PMIC id is 32 bits");
_Static_assert(sizeof(crvmonCoreInfo_t) == 24, "core record");
_Static_assert(offsetof(crvmonCoreInfo_t, busyTime) == 8, "core record busyTime");
_Static_assert(offsetof(crvmonCoreInfo_t, totalTime) == 16, "core record totalTime");
_Static_assert(sizeof(crvmonProcessInfo_t) == 32, "process record");
_Static_assert(offsetof(crvmonProcessInfo_t, quantity) == 4, "process record quantity");
_Static_assert(offsetof(crvmonProcessInfo_t, amount) == 8, "process record amount");
_Static_assert(offsetof(crvmonProcessInfo_t, totalTime) == 16, "process record totalTime");
_Static_assert(offsetof(crvmonProcessInfo_t, busyTime) == 24, "process record busyTime");
_Static_assert(CRVMON_TARGET_NONE == 0x7fffffff, "none target type");

int crvmonCHeaderCheck(void) {
    return CRVMON_STATUS_TARGET_NOT_FOUND;
}
