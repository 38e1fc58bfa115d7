// --loop SECONDS [--count N]: the same read again and again without initialising the library
// again; in place on a terminal, appended when standard output is a pipe or a file.
#pragma once

#include <functional>
#include <string>

#include "tools/common/run_deadline.h"

namespace crvmon::smi {

struct Round {
    std::string text;
    bool failed = false;  // a device failed a read: the run ends with the device-error code
};

struct LoopSettings {
    double seconds = 0;  // 0: one round
    int count = 0;       // 0: until Ctrl-C
    bool inPlace = false;
};

// Prints `read(round)` for round 0, 1, ...; each read is bounded by `deadline`. Returns the
// exit code.
int runRounds(const LoopSettings& settings, tools::RunDeadline& deadline,
              const std::function<Round(int round)>& read);

}  // namespace crvmon::smi
