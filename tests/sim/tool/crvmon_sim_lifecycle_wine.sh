#!/usr/bin/env bash
# crvmon-sim.exe as a script uses it under Wine: "ready" once it serves, another process (the
# monitor, through crvmon.dll) sees its devices, and Ctrl+C (SIGINT to the Wine process) ends it
# cleanly, its driver unloaded and its cards gone.
# Usage: crvmon_sim_lifecycle_wine.sh SIM_EXE SMI_EXE SCENARIO EMULATOR...
set -u
sim=${1:?crvmon-sim.exe}
smi=${2:?crvmon-smi.exe}
scenario=${3:?a scenario file}
shift 3
emulator=("$@")
work=$(mktemp -d /tmp/crvmon-simtest-XXXXXX)
sim_pid=
# A simulation left serving would hold the machine's driver for the tests after this one.
trap '[ -n "$sim_pid" ] && kill -INT "$sim_pid" 2>/dev/null && wait "$sim_pid"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

run_once() {  # expected device count, scenario argument...
    local devices=$1; shift
    # A file of this run's own: the shell truncates a reused one in the started process, which
    # may come after this script has already read the last run's ready line from it.
    local out="$work/out-$devices"
    "${emulator[@]}" "$sim" "$@" >"$out" 2>"$work/err" </dev/null &
    local pid=$!
    sim_pid=$pid
    for _ in $(seq 200); do
        grep -q ready "$out" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || fail "crvmon-sim.exe ended before ready: $(cat "$work/err")"
        sleep 0.05
    done
    grep -q ready "$out" || fail "no ready line"
    "${emulator[@]}" "$smi" -q node -f csv --no-header >"$work/listing" 2>"$work/err" ||
        fail "crvmon-smi.exe failed: $(cat "$work/err")"
    [ "$(tr -d '\r' <"$work/listing" | grep -c .)" -eq "$devices" ] ||
        fail "expected $devices devices: $(cat "$work/listing")"
    grep -q "/dev/orvek0" "$work/listing" || fail "card 0 not listed: $(cat "$work/listing")"
    kill -INT "$pid"
    local rc=0
    timeout 30 tail --pid="$pid" -f /dev/null || fail "crvmon-sim.exe did not end after Ctrl+C"
    wait "$pid" || rc=$?
    sim_pid=
    [ "$rc" -eq 0 ] || fail "exit $rc after Ctrl+C: $(cat "$work/err")"
    "${emulator[@]}" "$smi" >"$work/listing" 2>&1 && fail "devices left after the end: $(cat "$work/listing")"
    grep -q "No driver installed" "$work/listing" || fail "unexpected listing: $(cat "$work/listing")"
}

# A bad scenario's refusal is the same code on both systems: crvmon_sim_lifecycle.sh checks it.
run_once 4
run_once 2 "$scenario"
echo "crvmon-sim.exe lifecycle: 2 passed, 0 failed"
