#include "tools/common/library_session.h"

#include "tools/common/console.h"

namespace crvmon::tools {

namespace {

crvmonStatusCode_t initialise() {
    const StdoutToStderr quiet;
    return crvmonInit();
}

}  // namespace

LibrarySession::LibrarySession() : status_(initialise()) {}

LibrarySession::~LibrarySession() {
    const StdoutToStderr quiet;
    crvmonShutdown();
}

crvmonStatusCode_t LibrarySession::reinitialise() {
    status_ = initialise();
    return status_;
}

}  // namespace crvmon::tools
