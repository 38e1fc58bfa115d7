#!/usr/bin/env bash
# crvmon-sim as a script uses it: "ready" once it serves, its device objects under the object
# root, and a clean end on SIGTERM and SIGINT that removes what it created.
set -u
sim=${1:?path to crvmon-sim}
scenario=${2:?a scenario file}
root=$(mktemp -d /tmp/crvmon-simtest-XXXXXX)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

run_once() {  # signal, scenario argument...
    local signal=$1; shift
    # A file of this run's own: the shell truncates a reused one in the started process, which
    # may come after this script has already read the last run's ready line from it.
    local out="$root/out-$signal"
    CRVMON_OBJECT_ROOT=$root "$sim" "$@" >"$out" 2>"$root/err" &
    local pid=$!
    # Generous: a loaded CI machine can take seconds to start its threads.
    for _ in $(seq 400); do
        grep -qx ready "$out" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || fail "crvmon-sim ended before ready: $(cat "$root/err")"
        sleep 0.05
    done
    grep -qx ready "$out" || fail "no ready line: stdout [$(cat "$out")] stderr [$(cat "$root/err")]"
    [ "$(wc -l <"$out")" -eq 1 ] || fail "more than the ready line on stdout: [$(cat "$out")]"
    [ -S "$root/device/corvanta_pcie" ] || fail "card 0 not served: $(ls -R "$root")"
    [ -S "$root/pipe/veltara" ] || fail "Veltara host service not served: $(ls -R "$root")"
    kill "-$signal" "$pid"
    wait "$pid"
    local rc=$?
    [ "$rc" -eq 0 ] || fail "exit $rc after SIG$signal"
    [ -z "$(find "$root" -type s)" ] || fail "objects left after SIG$signal: $(find "$root" -type s)"
}

run_once TERM
run_once INT "$scenario"

# A scenario that cannot be used: a clear message and a failing exit, no ready line.
bad="$root/bad.toml"
printf '[[orvek]]\ntemperature = "hot"\n' >"$bad"
CRVMON_OBJECT_ROOT=$root "$sim" "$bad" >"$root/out-bad" 2>"$root/err" && fail "bad scenario accepted"
grep -q temperature "$root/err" || fail "message does not name the key: $(cat "$root/err")"
grep -q ready "$root/out-bad" && fail "ready printed for a bad scenario"
echo "crvmon-sim lifecycle: 3 passed, 0 failed"
