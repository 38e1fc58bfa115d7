#!/usr/bin/env bash
# Runs the integration tests (the library against the simulators, in process) once under
# Valgrind's memcheck, two programs at a time; exits non-zero when a test fails, or memcheck
# finds an invalid access, a use of an uninitialised value or a leak.
# Needs the `linux` preset's build (cmake --build --preset linux).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$PWD/build/linux
logs=$build/valgrind
mkdir -p "$logs"

# Each program with its ctest working directory and a GoogleTest filter.
# ASnapshotIsReadToItsEnd... makes 65,536 round trips to reach the row limit: minutes under
# Valgrind, through the same code the other snapshot tests run with a few rows.
# The simulated service serves each pipe instance on a thread of its own, and a test that gives
# it hundreds of instances passes memcheck's default limit of 500 threads.
programs=(
    "tests/orvek orvek_simulated_tests *"
    "tests/veltara veltara_simulated_tests -*ASnapshotIsReadToItsEndAndReleasedEvenWhenItNeverEnds"
    "tests/veltara/client host_client_tests *"
    "tests/api telemetry_getters_tests *"
    "tests/api library_unload_tests *"
    "tests/api flat_api_check"
)

run_one() {
    local folder=$1 program=$2 filter=${3:-}
    local arguments=()
    [ -n "$filter" ] && arguments=("--gtest_filter=$filter")
    if (cd "$build/$folder" &&
        valgrind --error-exitcode=1 --leak-check=full --quiet --max-threads=2000 \
            "$build/bin/$program" "${arguments[@]}") >"$logs/$program.log" 2>&1; then
        echo "valgrind: $program clean"
    else
        echo "valgrind: $program FAILED; its output:"
        cat "$logs/$program.log"
        return 1
    fi
}
export -f run_one
export build logs

printf '%s\n' "${programs[@]}" | xargs -P 2 -L 1 bash -c 'run_one "$@"' run_one
