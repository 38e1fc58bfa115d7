#!/usr/bin/env bash
# Runs clang-tidy-14 (.clang-tidy) and cppcheck (scripts/cppcheck-suppressions.txt) over the
# sources of lib/, sim/ and tools/; exits non-zero on any finding of either.
# Usage: scripts/static-analysis.sh [clang-tidy|cppcheck]...   (default: both)
#
# What is covered: every translation unit of those folders that the Linux build compiles, as the
# `linux` preset compiles it (its compile_commands.json), and the project's headers they include.
# What is not: the files only the Windows build compiles (the `*_windows.cpp` files,
# tools/exporter/windows_service.cpp, and the kernel-mode driver's sim/orvek/driver/
# orvek_sim_driver.c; the card logic beside it is covered), and tests/, bench/ and examples/.
# Nothing needs building first: the one generated header they include, lib/common/build_info.h
# (the version and revision), is written below.
set -euo pipefail
cd "$(dirname "$0")/.."

tools=("$@")
[ $# -eq 0 ] && tools=(clang-tidy cppcheck)
jobs=2

build=build/linux
database=$build/analysis
cmake --preset linux -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" --target crvmon_build_info_header >/dev/null

# The database, narrowed to the three folders (each file once: the tests compile a few of them
# again) and without the flags that only gcc knows.
mkdir -p "$database"
python3 - "$PWD" "$build/compile_commands.json" "$database/compile_commands.json" <<'EOF'
import json, shlex, sys
root, source, target = sys.argv[1:]
gcc_only = {"-fno-gnu-unique"}
folders = tuple(f"{root}/{folder}/" for folder in ("lib", "sim", "tools"))
kept, seen = [], set()
for entry in json.load(open(source)):
    if not entry["file"].startswith(folders) or entry["file"] in seen:
        continue
    seen.add(entry["file"])
    arguments = entry.pop("arguments", None) or shlex.split(entry.pop("command"))
    entry["arguments"] = [a for a in arguments if a not in gcc_only]
    kept.append(entry)
json.dump(kept, open(target, "w"), indent=1)
print(f"static-analysis: {len(kept)} translation units of lib/, sim/ and tools/", file=sys.stderr)
EOF

status=0
for tool in "${tools[@]}"; do
    case $tool in
    clang-tidy)
        echo "--- clang-tidy ---"
        tidy=0
        run-clang-tidy-14 -p "$database" -j "$jobs" -quiet >"$database/clang-tidy.log" 2>&1 ||
            tidy=1
        # Each finding once (one in a header is reported by every file that includes it), without
        # the colours run-clang-tidy asks for; the full text stays in the log.
        sed 's/\x1b\[[0-9;]*m//g' "$database/clang-tidy.log" |
            { grep -E '^(/|Error|error)' || true; } | { grep -vE ': note: ' || true; } | sort -u
        if [ $tidy -ne 0 ]; then
            echo "clang-tidy: the findings in full: $database/clang-tidy.log"
            status=1
        fi
        ;;
    cppcheck)
        echo "--- cppcheck ---"
        cppcheck --project="$database/compile_commands.json" -j "$jobs" --quiet \
            --enable=warning,style,performance,portability --std=c++20 \
            --inline-suppr --suppressions-list=scripts/cppcheck-suppressions.txt \
            --error-exitcode=1 --template='{file}:{line}: {severity}: {message} [{id}]' ||
            status=1
        ;;
    *) echo "static-analysis: unknown tool '$tool'" >&2; exit 2 ;;
    esac
done
exit $status
