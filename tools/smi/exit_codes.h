// crvmon-smi's exit codes, as --help lists them.
#pragma once

namespace crvmon::smi::exit_code {
constexpr int kOk = 0;
constexpr int kFailure = 1;      // anything unforeseen, such as an output file not written
constexpr int kBadArgument = 2;  // an option, field, id or scenario that cannot be used
constexpr int kNoDevice = 3;     // the library found no device, or not the one asked for
constexpr int kDeviceError = 4;  // a device or the library failed a read or a setting
constexpr int kTimeout = 5;      // a step took longer than --timeout
}  // namespace crvmon::smi::exit_code
