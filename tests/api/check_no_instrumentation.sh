#!/usr/bin/env bash
# The shipped library carries none of the tests' instrumentation or the simulator's code: no
# symbol of the virtual clock, the stand-in probes, the device-object server or namespaces
# crvmon::testing and crvmon::sim.
# Usage: check_no_instrumentation.sh NM LIBRARY
set -u
nm=${1:?nm program}
library=${2:?path to libcrvmon.so or crvmon.dll}
symbols=$("$nm" -C "$library") || { echo "cannot read the symbols of $library"; exit 1; }
[ -n "$symbols" ] || { echo "$library has no symbol table to check"; exit 1; }
found=$(grep -E 'VirtualClock|StandInProbes|DeviceObjectServer|crvmon::testing|crvmon::sim' \
    <<<"$symbols")
if [ -n "$found" ]; then
    echo "$library carries instrumentation or simulator code:"
    echo "$found"
    exit 1
fi
echo "$library: $(wc -l <<<"$symbols") symbols, none of the tests' or the simulator's"
