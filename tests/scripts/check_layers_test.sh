#!/usr/bin/env bash
# The layer check passes on the tree as it is, and fails, naming the line, on a copy of the tree
# with one forbidden include or one include not written from the repository root.
# Usage: check_layers_test.sh REPOSITORY
set -euo pipefail
repository=$(realpath "$1")
script=$repository/scripts/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

"$script" "$repository" || { echo "FAIL: the tree itself breaks the layers"; exit 1; }

# Expects the check to fail on a fresh copy with LINE appended to FILE, with a message holding
# EXPECTED.
expect_refused() {
    local file=$1 line=$2 expected=$3
    rm -rf "$work/tree"
    mkdir "$work/tree"
    (cd "$repository" && cp -r include lib sim tools bench tests examples "$work/tree/")
    echo "$line" >>"$work/tree/$file"
    if output=$("$script" "$work/tree" 2>&1); then
        echo "FAIL: $line in $file was accepted"
        failures=$((failures + 1))
    elif ! grep -qF "$expected" <<<"$output"; then
        echo "FAIL: $line in $file: expected \"$expected\" in:"
        echo "$output"
        failures=$((failures + 1))
    fi
}

# FILE|LINE|EXPECTED, one refusal a line.
while IFS='|' read -r file line expected; do
    expect_refused "$file" "$line" "$expected" </dev/null
done <<'EOF'
lib/registry/device_handle.cpp|#include "lib/orvek/orvek_wire.h"|lib/registry/device_handle.cpp:
lib/registry/device_handle.cpp|#include "lib/monitor/monitor_table.h"|lib/registry may not include lib/monitor/monitor_table.h
lib/veltara/client/veltara_client.cpp|#include "lib/veltara/veltara_probe.h"|lib/veltara/client may not include lib/veltara/veltara_probe.h
lib/orvek/orvek_discovery.cpp|#include "lib/platform/posix/handle_table.h"|lib/orvek may not include lib/platform/posix/handle_table.h
sim/simulator.cpp|#include "lib/telemetry/metric_accessors.h"|sim may not include lib/telemetry/metric_accessors.h
tools/smi/main.cpp|#include "lib/api/library_state.h"|tools/smi may not include lib/api/library_state.h
lib/api/lifecycle.cpp|#include "tests/support/stand_in_probes.h"|lib/api may not include tests/support/stand_in_probes.h
lib/orvek/orvek_discovery.cpp|#include "orvek_wire.h"|"orvek_wire.h" is not a path from the repository root
EOF

[ "$failures" -eq 0 ] || exit 1
echo "layer check: the tree passes, and all 8 forbidden includes were refused"
