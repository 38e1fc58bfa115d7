#!/usr/bin/env bash
# Checks every quoted #include of the tree against the allowed dependencies between folders, and
# that it is written from the repository root ("lib/orvek/orvek_wire.h", "sim/model/scenario.h").
# Exits 1, naming each offending line, when one is not.
# Usage: scripts/check-layers.sh [ROOT]   (default: the repository holding this script)
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

# The allowed edges, written once. A file follows the longest folder below that holds it; it may
# include its own folder (and what lies under it), and what its line names: folders, or single
# headers. Every file may include the public header, written "crvmon.h" (include/crvmon.h).
# The library's layers run one way: api on top, then telemetry (which backend answers a value),
# the two backends, the Orvek monitor, registry, common; the platform layer at the bottom,
# reached only through win32.h.
# The tools see nothing of the library but its public header and the build's version and source
# revision (lib/common/build_info.h, written by the build).
rules='
lib/api             lib/telemetry lib/orvek lib/veltara lib/monitor lib/registry lib/common lib/platform/win32.h
lib/telemetry       lib/veltara/client lib/monitor lib/registry lib/common
lib/orvek           lib/monitor lib/registry lib/common lib/platform/win32.h
lib/veltara         lib/registry lib/common lib/platform/win32.h
lib/veltara/client  lib/registry lib/common lib/platform/win32.h
lib/monitor         lib/registry lib/common
lib/registry        lib/common
lib/common
lib/platform
include
sim                 lib/platform lib/common lib/orvek/orvek_wire.h lib/veltara/client/veltara_wire.h
tools/common        lib/common/build_info.h sim
tools/smi           lib/common/build_info.h sim tools/common
tools/exporter      lib/common/build_info.h sim tools/common
examples
bench               lib sim tools
tests               lib sim tools
fuzz                lib sim tools
'

trees=(include lib sim tools bench tests examples fuzz)
existing=()
for tree in "${trees[@]}"; do [ -d "$tree" ] && existing+=("$tree"); done

{
    printf '%s\n' "$rules" | sed '/^$/d; s/^/R /'
    find "${existing[@]}" -type f | sed 's/^/F /'
    grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' \
        --include='*.h' --include='*.c' --include='*.cpp' --include='*.h.in' "${existing[@]}" |
        sed 's/^/I /' || true
} | awk '
function ruleOf(path,    best, folder) {
    best = ""
    for (folder in allowed) {
        if (index(path, folder "/") == 1 && length(folder) > length(best)) best = folder
    }
    return best
}
function permitted(target, folder,    n, i, prefix, list) {
    if (index(target, folder "/") == 1) return 1
    n = split(allowed[folder], list, " ")
    for (i = 1; i <= n; ++i) {
        prefix = list[i]
        if (target == prefix || index(target, prefix "/") == 1) return 1
    }
    return 0
}
$1 == "R" { folder = $2; $1 = ""; $2 = ""; sub(/^ +/, ""); allowed[folder] = $0; next }
$1 == "F" { files[$2] = 1; next }
$1 == "I" {
    line = substr($0, 3)
    split(line, parts, ":")
    file = parts[1]; number = parts[2]
    target = line
    sub(/^[^"]*"/, "", target); sub(/".*$/, "", target)
    folder = ruleOf(file)
    if (folder == "") next
    # A consumer project there stands outside the tree, like any project of a user: its includes
    # are its own.
    if (index(file, "tests/release/") == 1) next
    if (target == "crvmon.h") next
    if (!(target in files) && !((target ".in") in files)) {
        printf "%s:%s: \"%s\" is not a path from the repository root\n", file, number, target
        bad = 1
        next
    }
    if (!permitted(target, folder)) {
        printf "%s:%s: %s may not include %s (allowed: %s)\n", file, number, folder, target,
               allowed[folder] == "" ? "nothing outside itself" : allowed[folder]
        bad = 1
    }
}
END { exit bad }
'
