// The library initialised for the life of this object, and shut down after it. The library
// prints on standard output while it initialises; that goes to standard error instead.
#pragma once

#include "crvmon.h"

namespace crvmon::tools {

class LibrarySession {
  public:
    LibrarySession();
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    // CRVMON_STATUS_OK once devices were found; the library's status otherwise.
    crvmonStatusCode_t status() const { return status_; }

    // Initialises again (to find devices that appeared since), with the same redirection.
    crvmonStatusCode_t reinitialise();

  private:
    crvmonStatusCode_t status_;
};

}  // namespace crvmon::tools
