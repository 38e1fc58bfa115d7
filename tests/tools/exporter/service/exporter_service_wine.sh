#!/usr/bin/env bash
# crvmon-exporter.exe as a Windows service under Wine's service manager: installed by the program
# itself with the options it was given, to start at boot, with its event source; started with sc,
# serving /metrics; stopped cleanly (state STOPPED with exit code 0, its port closed, its
# simulation unloaded); a failure to serve reported as the service's exit code; each in its log
# file; removed with its event source, also while it runs. And a console exporter on the port the
# service wants, ended by Ctrl+C. The service is removed on every way out: the prefix's registry
# would keep it for every later run.
# Usage: exporter_service_wine.sh EXPORTER_EXE SMI_EXE SCENARIO EMULATOR...
#   SCENARIO: an absolute path to a scenario file of two devices.
set -u
exporter=${1:?crvmon-exporter.exe}
smi=${2:?crvmon-smi.exe}
scenario=${3:?a scenario file of two devices}
shift 3
emulator=("$@")
work=$(mktemp -d /tmp/crvmon-exporter-service-XXXXXX)
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A TCP port nothing listens on. Wine uses the host's sockets, so the host's view is Wine's.
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 30000))
        [ -z "$(ss -Htln "sport = :$port")" ] && { echo "$port"; return 0; }
    done
    return 1
}

# Waits until GET /metrics on the port answers with a temperature sample; its body in $work/metrics.
wait_for_metrics() {  # port seconds [pid that must stay alive]
    local port=$1 seconds=$2 pid=${3:-}
    local end=$((SECONDS + seconds))
    while [ "$SECONDS" -lt "$end" ]; do
        if curl -sf --max-time 5 "http://127.0.0.1:$port/metrics" >"$work/metrics" 2>/dev/null &&
            grep -q '^crvmon_temperature_celsius{' "$work/metrics"; then
            return 0
        fi
        [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null && return 1
        sleep 0.2
    done
    return 1
}

# Nothing accepts connections on the port any more.
port_closed() {  # port
    local status=0
    curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$1/metrics" || status=$?
    [ "$status" -eq 7 ]  # curl's "failed to connect"
}

# The simulated machine is gone (no device is served) and another process can simulate again.
simulation_released() {
    "${emulator[@]}" "$smi" >"$work/smi" 2>&1 </dev/null &&
        fail "devices still served after the exporter ended: $(cat "$work/smi")"
    grep -q "No driver installed" "$work/smi" || fail "unexpected listing: $(cat "$work/smi")"
    "${emulator[@]}" "$smi" --simulate -q id -f csv --no-header >"$work/smi" 2>"$work/smi.err" \
        </dev/null || fail "crvmon-smi.exe --simulate could not start its own simulation: \
$(cat "$work/smi.err")"
    [ "$(tr -d '\r' <"$work/smi" | grep -c .)" -eq 4 ] ||
        fail "crvmon-smi.exe --simulate listed: $(cat "$work/smi")"
}
holder_pid=
passed=0

cleanup() {
    if [ -n "$holder_pid" ]; then
        kill -INT "$holder_pid" 2>/dev/null
        wait "$holder_pid"
    fi
    timeout 90 "${emulator[@]}" "$exporter" --uninstall-service >/dev/null 2>&1 </dev/null
    "${emulator[@]}" cmd.exe /c del "$log_file" </dev/null >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

sc() {
    "${emulator[@]}" sc.exe "$@" </dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
exporter_run() {  # expected exit code, arguments...
    local expected=$1 status=0
    shift
    "${emulator[@]}" "$exporter" "$@" </dev/null >"$work/out" 2>"$work/err" || status=$?
    [ "$status" -eq "$expected" ] ||
        fail "crvmon-exporter.exe $* exited $status, not $expected: $(cat "$work/out" "$work/err")"
}
# One line of `sc query`'s answer: STATE, WIN32_EXIT_CODE or SERVICE_EXIT_CODE, as a number.
service_field() {  # field [answer of sc query; queried now if none]
    local answer=${2-$(sc query crvmon-exporter)}
    awk -v field="$1" '$1 == field { print $3 }' <<<"$answer"
}
# Every field is read from one answer: two queries may see two states of the service.
wait_until_stopped_with() {  # win32 exit code, service exit code
    local end=$((SECONDS + 60)) answer
    while [ "$SECONDS" -lt "$end" ]; do
        answer=$(sc query crvmon-exporter)
        if [ "$(service_field STATE "$answer")" = 1 ] &&
            [ "$(service_field WIN32_EXIT_CODE "$answer")" = "$1" ]; then
            [ "$(service_field SERVICE_EXIT_CODE "$answer")" = "$2" ] ||
                fail "stopped with a service exit code other than $2: $answer"
            return 0
        fi
        sleep 0.2
    done
    fail "not stopped with exit code $1 after 60 s: $(sc query crvmon-exporter)"
}
registry_value() {  # name [key]
    "${emulator[@]}" reg.exe query "${2:-HKLM\System\CurrentControlSet\Services\crvmon-exporter}" \
        /v "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
event_source='HKLM\System\CurrentControlSet\Services\EventLog\Application\crvmon-exporter'
log_file='C:\ProgramData\crvmon\crvmon-exporter.log'
service_log() {
    "${emulator[@]}" cmd.exe /c type "$log_file" </dev/null 2>/dev/null | tr -d '\r'
}
# The log holds a line of this severity ending so.
logged() {  # severity text
    service_log | grep -qF "] $1: $2" || fail "no '$1: $2' in the log: $(service_log)"
}
ok() {
    passed=$((passed + 1))
    echo "ok: $*"
}

port=$(free_port) || fail "no free port"

# A service left by an earlier run that was killed would fail every step below.
"${emulator[@]}" "$exporter" --uninstall-service </dev/null >/dev/null 2>&1
"${emulator[@]}" cmd.exe /c del "$log_file" </dev/null >/dev/null 2>&1

exporter_run 5 --uninstall-service
grep -q "not installed" "$work/err" || fail "uninstall message: $(cat "$work/err")"
exporter_run 2 --service --simulate --listen "127.0.0.1:$port"
grep -q "service manager" "$work/err" || fail "--service message: $(cat "$work/err")"
ok "removing no service and --service without the service manager fail with a message"

exporter_run 0 --install-service --simulate --listen "127.0.0.1:$port"
grep -q "starts at boot" "$work/out" || fail "install message: $(cat "$work/out")"
image=$(registry_value ImagePath)
case "$image" in
*'crvmon-exporter.exe --simulate --listen 127.0.0.1:'"$port"' --service') ;;
*) fail "ImagePath: $image" ;;
esac
[ "$(registry_value Start)" = 0x2 ] || fail "not started at boot: $(registry_value Start)"
[ "$(registry_value Type)" = 0x10 ] || fail "not an own-process service: $(registry_value Type)"
[ -n "$(registry_value Description)" ] || fail "no description"
case "$(registry_value EventMessageFile "$event_source")" in
*'\crvmon-exporter.exe') ;;
*) fail "event source: $(registry_value EventMessageFile "$event_source")" ;;
esac
exporter_run 5 --install-service --simulate --listen "127.0.0.1:$port"
grep -q "already installed" "$work/err" || fail "second install message: $(cat "$work/err")"
ok "installed to start at boot with its options, --service and its event source; a second install is refused"

sc start crvmon-exporter >"$work/sc" || fail "sc start: $(cat "$work/sc")"
wait_for_metrics "$port" 60 || fail "no metrics from the service: $(sc query crvmon-exporter)"
grep -q '^crvmon_up 1' "$work/metrics" || fail "crvmon_up is not 1"
[ "$(service_field STATE)" = 4 ] || fail "not RUNNING: $(sc query crvmon-exporter)"
sc stop crvmon-exporter >"$work/sc" || fail "sc stop: $(cat "$work/sc")"
wait_until_stopped_with 0 0
port_closed "$port" || fail "port $port still open after the stop"
simulation_released
logged info "serving http://127.0.0.1:$port/"
logged info "stopped"
ok "started by sc, served /metrics, stopped with exit code 0, port closed, simulation unloaded, logged"

# A console exporter serving its own simulation takes the port first: the service binds its port
# before it simulates, so it cannot serve. Ctrl+C (SIGINT to the Wine process) then ends the
# console one with exit code 0, its port closed and its simulation unloaded.
"${emulator[@]}" "$exporter" --simulate --listen "127.0.0.1:$port" </dev/null \
    >/dev/null 2>"$work/holder.err" &
holder_pid=$!
wait_for_metrics "$port" 60 "$holder_pid" || fail "no metrics in a console: $(cat "$work/holder.err")"
grep -q '^crvmon_devices 4$' "$work/metrics" || fail "not the built-in machine's four devices"
sc start crvmon-exporter >"$work/sc"
wait_until_stopped_with 1066 3  # ERROR_SERVICE_SPECIFIC_ERROR, "cannot serve"
kill -INT "$holder_pid"
timeout 30 tail --pid="$holder_pid" -f /dev/null || fail "the console exporter ignored Ctrl+C"
status=0
wait "$holder_pid" || status=$?
holder_pid=
[ "$status" -eq 0 ] || fail "the console exporter exited $status after Ctrl+C: $(cat "$work/holder.err")"
grep -q "stopped" "$work/holder.err" || fail "no word of the stop: $(cat "$work/holder.err")"
port_closed "$port" || fail "port $port still open after Ctrl+C"
simulation_released
logged error "cannot listen on 127.0.0.1:$port: port $port is taken: another program (another crvmon-exporter?) listens on it"
logged error "the service stops with exit code 3"
ok "a service that cannot listen stops with its exit code 3 and says why in its log; the console exporter on the port ends at Ctrl+C, port closed, simulation unloaded"

exporter_run 0 --uninstall-service
grep -q "Removed" "$work/out" || fail "uninstall message: $(cat "$work/out")"
sc query crvmon-exporter >"$work/sc" && fail "still known to the service manager: $(cat "$work/sc")"
[ -z "$(registry_value ImagePath)" ] || fail "registry key left"
[ -z "$(registry_value EventMessageFile "$event_source")" ] || fail "event source left"
ok "removed from the service manager and the registry, with its event source"

# A relative scenario path names the file from where the service was installed, not from the
# folder the service starts in.
cd "$(dirname "$scenario")" || fail "cd $(dirname "$scenario")"
exporter_run 0 --install-service --scenario "$(basename "$scenario")" --listen "127.0.0.1:$port"
windows_scenario="Z:$(printf '%s' "$scenario" | tr / '\\')"
case "$(registry_value ImagePath)" in
*"--scenario $windows_scenario --listen"*) ;;
*) fail "scenario path not made absolute: $(registry_value ImagePath)" ;;
esac
sc start crvmon-exporter >"$work/sc" || fail "sc start: $(cat "$work/sc")"
wait_for_metrics "$port" 60 || fail "no metrics from the service: $(sc query crvmon-exporter)"
grep -q '^crvmon_devices 2$' "$work/metrics" ||
    fail "not the scenario's two devices: $(grep '^crvmon_devices' "$work/metrics")"
exporter_run 0 --uninstall-service
grep -q "stopping" "$work/err" || fail "no word of the stop: $(cat "$work/err")"
port_closed "$port" || fail "port $port still open after the removal"
sc query crvmon-exporter >"$work/sc" && fail "still known to the service manager: $(cat "$work/sc")"
simulation_released
ok "a running service is stopped, then removed; its scenario was found from the service"

echo "crvmon-exporter.exe service: $passed passed, 0 failed"
