#!/usr/bin/env bash
# The library exports exactly the flat functions, their namespaced twins and crvmonStatusString.
set -u
library=${1:?path to libcrvmon.so or crvmon.dll}
expected=${2:?list of the exported names}
case $library in
*.dll)  # the export table of the PE file
    actual=$(x86_64-w64-mingw32-objdump -p "$library" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $3}' | sort) ;;
*)      # the dynamic symbols the shared object defines
    actual=$(nm -D --defined-only "$library" |
        awk '$2 == "T" || $2 == "W" || $2 == "D" || $2 == "B" {print $3}' | sort) ;;
esac
if differences=$(diff <(sort "$expected") <(printf '%s\n' "$actual")); then
    echo "exports: 1 passed, 0 failed"
    exit 0
fi
echo "exported names differ from $expected (< expected, > exported):"
echo "$differences"
echo "exports: 0 passed, 1 failed"
exit 1
