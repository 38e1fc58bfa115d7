#!/usr/bin/env bash
# Times crvmon-smi --query of every field for every device: wall time of each invocation and
# the phases it reports with --timings (simulation start, initialisation, reads), median of N
# runs, on the built-in machine and on one with Orvek cards only (no host service).
# Usage: bench/smi/smi_timings.sh SMI [RUNS] [EMULATOR...]
#   natively:   bench/smi/smi_timings.sh build/release/bin/crvmon-smi 10
#   under Wine: bench/smi/smi_timings.sh build/windows/bin/crvmon-smi.exe 5 \
#                 env WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all /usr/lib/wine/wine64
set -euo pipefail
smi=${1:?crvmon-smi}
runs=${2:-10}
shift $(($# >= 2 ? 2 : 1))
here=$(cd "$(dirname "$0")" && pwd)
scenario=$here/orvek_only.toml
case $smi in *.exe) scenario="Z:$scenario" ;; esac

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

measure() {
    local name=$1; shift
    local walls=() sims=() inits=() reads=()
    for _ in $(seq "$runs"); do
        local start end line
        start=$(date +%s.%N)
        line=$("$@" "$smi" "${args[@]}" -q all -f json --timings 2>&1 >/dev/null |
               grep 'timings:' | tr -d '\r')
        end=$(date +%s.%N)
        walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
        sims+=("$(sed -E 's/.*simulation start ([0-9.]+) s.*/\1/' <<<"$line")")
        inits+=("$(sed -E 's/.*initialisation ([0-9.]+) s.*/\1/' <<<"$line")")
        reads+=("$(sed -E 's/.*reads ([0-9.]+) s.*/\1/' <<<"$line")")
    done
    printf '%-34s wall %7.3f s   simulation start %7.4f s   initialisation %7.4f s   reads %7.4f s\n' \
        "$name" "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${sims[@]}" | median)" \
        "$(printf '%s\n' "${inits[@]}" | median)" "$(printf '%s\n' "${reads[@]}" | median)"
}

echo "median of $runs runs of crvmon-smi -q all -f json"
args=(--simulate)
measure "built-in machine (4 devices)" "$@"
args=(--scenario "$scenario")
measure "Orvek cards only, no host service" "$@"
