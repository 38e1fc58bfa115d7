#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "lib/platform/posix/kernel32.h"

namespace {

// Windows looks for a bare DLL name in the program's own folder first; so does this.
std::string besideProgram(const char* fileName) {
    std::string name(fileName);
    if (name.find('/') != std::string::npos) return name;
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    std::string dir(self, static_cast<size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + name;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* module = dlopen(besideProgram(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    void* symbol = dlsym(module, name);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    return dlclose(module) == 0 ? TRUE : FALSE;
}
