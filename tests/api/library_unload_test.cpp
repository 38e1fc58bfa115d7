// Unloading the library without a shutdown releases every device.
#include <gtest/gtest.h>

#include "crvmon.h"
#include "lib/platform/win32.h"
#include "sim/model/scenario.h"
#include "sim/private_simulation.h"
#include "tests/support/settled_handle_count.h"
#include "tests/support/status_check.h"

namespace {

#if defined(_WIN32)
constexpr const char* kProduct = "crvmon.dll";
#else
constexpr const char* kProduct = "libcrvmon.so";
#endif

template <class Function>
Function symbol(HMODULE module, const char* name) {
    // Through void(*)(), the one function type every other may be cast from without warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The shipped library, loaded afresh, against the simulated machine: unloaded without a
// shutdown, it closes every handle its devices held (pipe instances, device objects, views).
TEST(LibraryUnload, TheProductClosesEveryHandleOfItsDevices) {
    crvmon::sim::PrivateSimulation simulation(crvmon::sim::builtInScenario());
    // A first load and unload, so that what loading alone leaves behind (the system libraries
    // the product brings in keep handles of their own under Wine) is in the count.
    HMODULE product = LoadLibraryA(kProduct);
    ASSERT_NE(product, nullptr) << "cannot load " << kProduct;
    ASSERT_TRUE(FreeLibrary(product));
    const int before = openHandleCount();

    product = LoadLibraryA(kProduct);
    ASSERT_NE(product, nullptr);
    auto init = symbol<crvmonStatusCode_t (*)()>(product, "crvmonInit");
    auto deviceCount = symbol<crvmonStatusCode_t (*)(int*)>(product, "crvmonGetDeviceCount");
    ASSERT_TRUE(init && deviceCount);
    ASSERT_EQ(init(), CRVMON_STATUS_OK);
    int devices = 0;
    EXPECT_EQ(deviceCount(&devices), CRVMON_STATUS_OK);
    EXPECT_EQ(devices, 4);
    EXPECT_GT(openHandleCount(), before + devices);
    ASSERT_TRUE(FreeLibrary(product));
    EXPECT_EQ(openHandleCountSettledAt(before), before);
}

}  // namespace
