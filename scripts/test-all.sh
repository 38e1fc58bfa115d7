#!/usr/bin/env bash
# Builds and runs every test: natively, with AddressSanitizer and UBSan, with ThreadSanitizer,
# and the Windows build (crvmon.dll) under Wine (the fault soak among them); after the native
# build, clang-tidy and cppcheck over the sources and the integration tests once under Valgrind;
# last, every fuzz target for a short while. Exits non-zero if any build, test or check fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# The quick checks first, so that a slip fails in seconds.
echo "=== layers ==="
scripts/check-layers.sh

scripts/install-deps.sh checks
echo "=== format ==="
scripts/check-format.sh

scripts/install-deps.sh linux windows tools python analysis

# However the run ends, no Wine server is left behind.
trap 'cmake/wine-session.sh stop "$PWD/build/windows/wineprefix"' EXIT

for preset in linux linux-asan linux-tsan windows; do
    echo "=== $preset ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    lost=build/windows/wine-lost-starts.log
    [ "$preset" = windows ] && rm -f "$lost"
    ctest --preset "$preset"
    if [ "$preset" = windows ] && [ -s "$lost" ]; then
        # Programs Wine lost at their start and cmake/wine-run.sh ran again: seen, not hidden.
        echo "Wine lost $(wc -l <"$lost") program start(s) of this run; each was run again:"
        cat "$lost"
    fi
    if [ "$preset" = linux ]; then
        # Both reuse the native build: its compile commands and its test programs.
        echo "=== static analysis ==="
        scripts/static-analysis.sh
        echo "=== valgrind ==="
        scripts/valgrind-tests.sh
    fi
done

# Every fuzz target for a short while from its seeds; longer runs by hand: scripts/fuzz.sh 600
echo "=== fuzz ==="
scripts/fuzz.sh 20
echo "=== all builds and tests passed ==="
