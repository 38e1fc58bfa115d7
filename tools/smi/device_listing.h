// The device list crvmon-smi prints: every addressable device with its identity and versions.
#pragma once

#include <cstdio>

#include "crvmon.h"

namespace crvmon::smi {

// Words for a status, for messages.
const char* statusWords(crvmonStatusCode_t status);

// Prints every device of every target type to `out`; the library must be initialised.
void printDeviceList(std::FILE* out);

}  // namespace crvmon::smi
