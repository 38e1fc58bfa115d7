// The stand-in's handle table outlives every static object of the image it is linked into: a
// library unloaded (or a process ending) without a shutdown still closes its handles.
#include <gtest/gtest.h>

#include "lib/platform/win32.h"

namespace {

TEST(HandleLifetime, AStaticObjectClosesItsHandleWhenTheLibraryUnloads) {
    HMODULE library = LoadLibraryA("liblate_closer.so");
    ASSERT_NE(library, nullptr);
    using Open = void (*)(int*);
    auto open = reinterpret_cast<Open>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "lateCloserOpen")));
    ASSERT_NE(open, nullptr);

    int closed = -1;
    open(&closed);
    EXPECT_EQ(closed, -1);
    ASSERT_TRUE(FreeLibrary(library));
    EXPECT_EQ(closed, 1) << "CloseHandle failed at unload: the handle table was already gone";
}

}  // namespace
