#include "lib/platform/win32.h"

// Nothing is probed at load: the registry is built empty by its constructor and devices are
// opened only by crvmonInit. Thread notifications are of no use to the library.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
