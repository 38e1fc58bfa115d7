// A library with a static object that closes a stand-in handle when the library is unloaded, as
// the library's own state closes its devices' handles. The object is built when the library is
// loaded, long before the first handle exists.
#include "lib/platform/win32.h"

namespace {

struct LateCloser {
    HANDLE event = nullptr;
    int* closed = nullptr;  // in the test's memory: still there once this library is gone
    ~LateCloser() {
        if (closed != nullptr) *closed = CloseHandle(event) ? 1 : 0;
    }
} closer;

}  // namespace

// Opens an event, to be closed at unload; *closed then tells whether CloseHandle succeeded.
extern "C" __attribute__((visibility("default"))) void lateCloserOpen(int* closed) {
    closer.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    closer.closed = closed;
}
