# Shared by the exporter's Wine tests: the programs, a scratch folder, a free port and waits.
# Sourced after `emulator` (the Wine command, an array) and `work` (a scratch folder) are set.

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
