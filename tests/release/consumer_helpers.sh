# Shared by the consumer tests: a scratch folder, the simulated machine of scenario.toml served
# by the installed crvmon-sim, and the comparison of a consumer's report with the expected one.
# Sourced after `work` (a scratch folder) is set.

release_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scenario=$release_tests/scenario.toml
sim_pid=

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Ends a simulation still serving, without a word on how it ended.
end_simulation() {
    [ -n "$sim_pid" ] && kill -INT "$sim_pid" 2>/dev/null && wait "$sim_pid"
    sim_pid=
}
# On every way out: a simulation left running would hold the machine's simulated devices for the
# tests after this one.
finish() {
    end_simulation
    rm -rf "$work"
}
trap finish EXIT

# Starts crvmon-sim on scenario.toml and waits for its "ready" line.
start_simulation() {  # command...
    "$@" "$scenario" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
    sim_pid=$!
    for _ in $(seq 600); do
        grep -q ready "$work/sim.out" 2>/dev/null && return 0
        kill -0 "$sim_pid" 2>/dev/null || fail "crvmon-sim ended before ready: $(cat "$work/sim.err")"
        sleep 0.05
    done
    fail "crvmon-sim not ready after 30 s: $(cat "$work/sim.err")"
}

stop_simulation() {
    local status=0
    kill -INT "$sim_pid"
    timeout 30 tail --pid="$sim_pid" -f /dev/null || fail "crvmon-sim did not end after Ctrl+C"
    wait "$sim_pid" || status=$?
    sim_pid=
    [ "$status" -eq 0 ] || fail "crvmon-sim exited $status: $(cat "$work/sim.err")"
}

# Configures and builds the consumer project in BUILD_DIR with the extra CMake arguments, and
# checks that it found crvmon VERSION in PACKAGE_DIR, not some other copy.
build_consumer() {  # build_dir package_dir cmake_args...
    local build_dir=$1 package_dir=$2
    shift 2
    cmake -S "$release_tests/consumer" -B "$build_dir" -G Ninja \
        -DCRVMON_WANTED_VERSION="$version" "$@" >"$work/configure.log" 2>&1 ||
        fail "configuring the consumer: $(cat "$work/configure.log")"
    grep -q "crvmon $version from $package_dir" "$work/configure.log" ||
        fail "not the package in $package_dir: $(grep crvmon "$work/configure.log")"
    cmake --build "$build_dir" >"$work/build.log" 2>&1 ||
        fail "building the consumer: $(cat "$work/build.log")"
}

# Runs a consumer program and compares what it prints with expected_report.txt.
check_report() {  # name, command...
    local name=$1 status=0
    shift
    "$@" >"$work/report.raw" 2>"$work/report.err" </dev/null || status=$?
    tr -d '\r' <"$work/report.raw" >"$work/report"
    [ "$status" -eq 0 ] ||
        fail "$name exited $status: $(cat "$work/report" "$work/report.err")"
    diff -u "$release_tests/expected_report.txt" "$work/report" >"$work/report.diff" ||
        fail "$name printed other values (- expected, + printed):
$(cat "$work/report.diff")"
    echo "ok: $name read the simulated machine through the flat functions"
}
