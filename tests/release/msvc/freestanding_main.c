/* The consumer as a Visual C++ program sees crvmon.dll: built for the Microsoft ABI, linked
 * against crvmon.lib, with no C library at all. The few kernel32 functions it needs are declared
 * here, so that crvmon.h is the only header it takes from anywhere. */
#include "../consumer/report.h"
#include "crvmon.h"

typedef void* HANDLE;
#define STD_OUTPUT_HANDLE ((unsigned long)-11)

__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

/* The Microsoft compilers reference this from any code that uses floating point; the C library
 * would define it. */
int _fltused;

/* The record layouts as this ABI lays them out must be the ones the DLL writes. */
_Static_assert(sizeof(crvmonCoreInfo_t) == 24, "core record");
_Static_assert(sizeof(crvmonProcessInfo_t) == 32, "process record");
_Static_assert(sizeof(crvmonTargetDeviceType_t) == 4, "target type");

static void writeStdout(const char* text, unsigned int length) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, 0);
}

void __stdcall consumerEntry(void) {
    ExitProcess((unsigned int)writeReport(writeStdout));
}
