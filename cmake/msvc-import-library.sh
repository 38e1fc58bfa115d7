#!/usr/bin/env bash
# Writes the import library the Microsoft linker reads (crvmon.lib) for crvmon.dll, from a module
# definition of the DLL's C exports. The names come from the DLL's own export table, so the .def
# cannot drift from what the DLL exports; the namespaced functions carry GCC's mangling, which no
# Microsoft-ABI caller can use, and are left out.
# Usage: msvc-import-library.sh DLL OBJDUMP LLVM_DLLTOOL OUTPUT.lib   (OUTPUT.def beside it)
set -euo pipefail
dll=${1:?crvmon.dll}
objdump=${2:?objdump of the MinGW toolchain}
dlltool=${3:?llvm-dlltool}
output=${4:?the .lib to write}
def=${output%.lib}.def

names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/^\t\[/ && $3 !~ /^_Z/ {print $3}' | sort)
if [ -z "$names" ]; then
    echo "msvc-import-library: no C export found in $dll" >&2
    exit 1
fi
{
    echo "LIBRARY $(basename "$dll")"
    echo "EXPORTS"
    printf '    %s\n' $names
} >"$def.tmp"
mv "$def.tmp" "$def"
"$dlltool" -m i386:x86-64 -d "$def" -l "$output"
