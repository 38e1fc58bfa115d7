#!/usr/bin/env bash
# Builds crvmon-smi (release) and runs it with the arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset release >/dev/null
cmake --build --preset release --target crvmon-smi >/dev/null
exec build/release/bin/crvmon-smi "$@"
