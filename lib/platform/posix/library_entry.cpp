// A shared library here has no DllMain call from a loader: run the library's entry the way the
// Windows loader would, at load and at unload.
#include "lib/platform/posix/kernel32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

__attribute__((constructor)) void attachProcess() {
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void detachProcess() {
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
