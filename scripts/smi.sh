#!/usr/bin/env bash
# Builds crvmon-smi (release) and runs it: on the built-in simulated machine when given no
# arguments, otherwise with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset release >/dev/null
cmake --build --preset release --target crvmon-smi >/dev/null
if [ $# -eq 0 ]; then
    set -- --simulate
fi
exec build/release/bin/crvmon-smi "$@"
