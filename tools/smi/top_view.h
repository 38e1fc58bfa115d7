// crvmon-smi top: a full-screen live view of the machine, drawn with plain ANSI/VT sequences so
// that it runs in a Linux terminal and a Windows console alike.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "tools/common/device_id.h"
#include "tools/common/run_deadline.h"

namespace crvmon::smi {

struct TopOptions {
    std::vector<tools::DeviceId> ids;          // the devices to show, each one the library has
    std::chrono::milliseconds interval{1000};  // between two reads
    std::optional<int> count;  // frames (1 or more) before ending; nullopt: until `q`
};

// Runs the view until `q`, Ctrl-C or `count` frames; the library must be initialised. Each
// read of the devices is bounded by `deadline`. Returns the process's exit code.
int runTopView(const TopOptions& options, tools::RunDeadline& deadline);

}  // namespace crvmon::smi
