#!/usr/bin/env bash
# Runs one Windows program of the build under Wine, for CTest and test discovery, and passes its
# exit code on. Under WINEDEBUG=-all Wine says nothing when it, not the program, ends the run: a
# DLL it could not load (exit 53, before the program prints a line), or wine64 itself ended by a
# signal. This says so on standard error, so that such a failure is not read as the program's.
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
prefix=${1:?wine prefix}
shift
program=${1:?program}
export WINEPREFIX=$prefix WINEDEBUG=-all
/usr/lib/wine/wine64 "$@"
code=$?
[ "$code" -eq 0 ] && exit 0

say() { echo "wine-run: $*" >&2; }
if [ "$code" -ge 128 ] && [ "$code" -lt 160 ]; then
    say "wine64 running $(basename "$program") was ended by signal $((code - 128))"
elif [ "$code" -eq 53 ]; then
    # The DLLs the program imports that are neither beside it nor Wine's own.
    missing=()
    while read -r dll; do
        [ -e "$(dirname "$program")/$dll" ] || [ -e "$prefix/drive_c/windows/system32/${dll,,}" ] ||
            missing+=("$dll")
    done < <(x86_64-w64-mingw32-objdump -p "$program" 2>/dev/null | sed -n 's/^\s*DLL Name: //p')
    say "Wine could not start $(basename "$program") (exit 53: a DLL it imports did not load;" \
        "not found: ${missing[*]:-none})"
else
    # A test program's own failure says what failed; a program ended before its first line
    # (seen under many parallel Wine starts) says nothing, and its exit code is all there is.
    say "$(basename "$program") ended with exit code $code"
fi
exit "$code"
