// A copy of the library whose probes open one Orvek card and one Veltara USB device, for tests
// that load and unload it.
#include <memory>

#include "crvmon.h"
#include "tests/support/stand_in_probes.h"

namespace {
// Built before, and so destroyed after, the library's own state: the registry releases its
// devices during unload, and the probes must still be in place then.
__attribute__((init_priority(101))) std::unique_ptr<crvmon::testing::StandInProbes> probes;
}  // namespace

// *live counts the opened objects still held, in the test's own memory, so that it can be read
// after the library is gone.
extern "C" CRVMON_API void standInInstall(int* live) {
    probes = std::make_unique<crvmon::testing::StandInProbes>();
    probes->liveCounter = live;
    probes->addDevice("/dev/orvek0", crvmon::testing::orvekCard());
    probes->addDevice("/dev/veltara-usb0",
                      crvmon::testing::veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND1));
}
