#include "lib/api/library_state.h"

namespace crvmon {

namespace {
// Constructed when the library is loaded; destroyed, shutting the registry down, at unload.
LibraryState state;
}  // namespace

LibraryState& libraryState() {
    return state;
}

MonitorTable& monitorTable() {
    return state.monitors;
}

}  // namespace crvmon
