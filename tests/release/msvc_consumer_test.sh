#!/usr/bin/env bash
# crvmon.dll as a Visual C++ program uses it: the consumer compiled for the Microsoft ABI by clang
# (freestanding: no C library, only the zip's crvmon.h), linked by lld-link against the zip's
# crvmon.lib and an import library of the three kernel32 functions it declares, then run under
# Wine against the machine of the zip's crvmon-sim.exe.
# Usage: msvc_consumer_test.sh UNPACKED_ZIP CLANG LLD_LINK LLVM_DLLTOOL LLVM_READOBJ EMULATOR...
set -u
unpacked=${1:?the unpacked zip}
clang=${2:?clang}
lld_link=${3:?lld-link}
dlltool=${4:?llvm-dlltool}
readobj=${5:?llvm-readobj}
shift 5
emulator=("$@")
work=$(mktemp -d /tmp/crvmon-release-msvc-XXXXXX)
# shellcheck source=consumer_helpers.sh
. "$(dirname "$0")/consumer_helpers.sh"
for tool in "$clang" "$lld_link" "$dlltool" "$readobj"; do
    command -v "$tool" >/dev/null || fail "$tool not found: bash scripts/install-deps.sh windows"
done

objects=()
for source in "$release_tests/msvc/freestanding_main.c" "$release_tests/consumer/report.c"; do
    object=$work/$(basename "$source" .c).obj
    "$clang" --target=x86_64-pc-windows-msvc -ffreestanding -fno-builtin -O2 -std=c11 \
        -Wall -Wextra -Wpedantic -Werror -I"$unpacked/include" -c "$source" -o "$object" \
        2>"$work/cc.log" || fail "compiling $(basename "$source"): $(cat "$work/cc.log")"
    objects+=("$object")
done
"$dlltool" -m i386:x86-64 -d "$release_tests/msvc/kernel32.def" -l "$work/kernel32.lib" ||
    fail "no kernel32.lib"
"$lld_link" /nologo /subsystem:console /entry:consumerEntry /nodefaultlib \
    /out:"$work/consumer.exe" "${objects[@]}" "$unpacked/lib/crvmon.lib" "$work/kernel32.lib" \
    >"$work/link.log" 2>&1 || fail "lld-link: $(cat "$work/link.log")"
# The program takes the flat functions from crvmon.dll, by name, and nothing from a C library.
"$readobj" --coff-imports "$work/consumer.exe" >"$work/imports"
[ "$(awk '$1 == "Name:" && $2 ~ /\.dll$/ {print $2}' "$work/imports" | sort | tr '\n' ' ')" = \
    "crvmon.dll kernel32.dll " ] || fail "imports other DLLs: $(cat "$work/imports")"
grep -q 'Symbol: crvmonGetProcessInfos' "$work/imports" ||
    fail "crvmonGetProcessInfos not imported by name: $(cat "$work/imports")"
cp "$unpacked/bin/crvmon.dll" "$work/"

start_simulation "${emulator[@]}" "$unpacked/bin/crvmon-sim.exe"
check_report "the Microsoft-ABI consumer" "${emulator[@]}" "$work/consumer.exe"
stop_simulation
