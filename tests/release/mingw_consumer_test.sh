#!/usr/bin/env bash
# The unpacked Windows zip as a MinGW-w64 project finds it: the consumer project, cross-built with
# the MinGW toolchain, finds the package (find_package(crvmon CONFIG), target crvmon::crvmon), copies
# the DLL the package names beside its program, and reads the machine of the zip's crvmon-sim.exe
# under Wine.
# Usage: mingw_consumer_test.sh UNPACKED_ZIP TOOLCHAIN_FILE VERSION EMULATOR...
set -u
unpacked=${1:?the unpacked zip}
toolchain=${2:?the MinGW-w64 toolchain file}
version=${3:?the project version}
shift 3
emulator=("$@")
work=$(mktemp -d /tmp/crvmon-release-mingw-XXXXXX)
# shellcheck source=consumer_helpers.sh
. "$(dirname "$0")/consumer_helpers.sh"

# A cross-build searches packages under its target root only; crvmon_DIR names the package
# wherever the zip was unpacked.
build_consumer "$work/build" "$unpacked/lib/cmake/crvmon" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -Dcrvmon_DIR="$unpacked/lib/cmake/crvmon"
cmp -s "$work/build/crvmon.dll" "$unpacked/bin/crvmon.dll" ||
    fail "the zip's crvmon.dll was not copied beside the program"

start_simulation "${emulator[@]}" "$unpacked/bin/crvmon-sim.exe"
check_report "the MinGW consumer" "${emulator[@]}" "$work/build/crvmon_consumer.exe"
stop_simulation
