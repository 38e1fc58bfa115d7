#!/usr/bin/env bash
# crvmon-exporter.exe in a console under Wine: it serves /metrics from its simulation, and
# Ctrl+C (SIGINT to the Wine process) ends it with exit code 0, its port closed and its
# simulation unloaded.
# Usage: exporter_console_wine.sh EXPORTER_EXE SMI_EXE EMULATOR...
set -u
exporter=${1:?crvmon-exporter.exe}
smi=${2:?crvmon-smi.exe}
shift 2
emulator=("$@")
work=$(mktemp -d /tmp/crvmon-exporter-console-XXXXXX)
# shellcheck source=wine_helpers.sh
. "$(dirname "$0")/wine_helpers.sh"
pid=
# An exporter left serving would hold the machine's simulated driver for the tests after this.
trap '[ -n "$pid" ] && kill -INT "$pid" 2>/dev/null && wait "$pid"; rm -rf "$work"' EXIT

port=$(free_port) || fail "no free port"
"${emulator[@]}" "$exporter" --simulate --listen "127.0.0.1:$port" </dev/null \
    >"$work/stdout" 2>"$work/stderr" &
pid=$!
wait_for_metrics "$port" 60 "$pid" || fail "no metrics: $(cat "$work/stderr")"
grep -q '^crvmon_up 1' "$work/metrics" || fail "crvmon_up is not 1"
grep -q '^crvmon_devices 4$' "$work/metrics" || fail "not the built-in scenario's four devices"

kill -INT "$pid"
timeout 30 tail --pid="$pid" -f /dev/null || fail "crvmon-exporter.exe did not end after Ctrl+C"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "exit $status after Ctrl+C: $(cat "$work/stderr")"
grep -q "stopped" "$work/stderr" || fail "no word of the stop: $(cat "$work/stderr")"
port_closed "$port" || fail "port $port still open after the end"
simulation_released
echo "crvmon-exporter.exe console: served until Ctrl+C, exit 0, port closed, simulation unloaded"
