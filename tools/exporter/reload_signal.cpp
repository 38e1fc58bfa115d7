#include "tools/exporter/reload_signal.h"

#include <atomic>
#include <csignal>

namespace crvmon::exporter {
namespace {

std::atomic<bool> reloadAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef SIGHUP
extern "C" void onReload(int) {
    reloadAsked.store(true);
}
#endif

}  // namespace

void catchReloadRequests() {
#ifdef SIGHUP
    (void)std::signal(SIGHUP, onReload);
#endif
}

bool takeReloadRequest() {
    return reloadAsked.exchange(false);
}

}  // namespace crvmon::exporter
