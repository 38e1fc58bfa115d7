#!/usr/bin/env bash
# crvmon-smi --simulate lists the built-in machine exactly as expected: the same file for the
# Linux build and for crvmon-smi.exe under Wine, so both builds show the same devices.
# Usage: smi_listing.sh EXPECTED SMI [EMULATOR...]
set -u -o pipefail
expected=${1:?expected listing}
smi=${2:?crvmon-smi}
shift 2
actual=$("$@" "$smi" --simulate </dev/null | tr -d '\r') || { echo "FAIL: crvmon-smi exited $?"; exit 1; }
if ! diff -u "$expected" <(printf '%s\n' "$actual"); then
    echo "FAIL: the listing differs from $expected"
    exit 1
fi
echo "crvmon-smi --simulate: listing as expected"
