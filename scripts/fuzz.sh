#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, AddressSanitizer and UBSan) and runs each for a bounded
# time, starting from its checked-in seeds under fuzz/corpus/. What a run adds to the corpus
# stays in build/fuzz/corpus/, so the checked-in seeds change only by hand. An input that
# crashes a target is kept in build/fuzz/crashes/ and fails the run.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default: 20 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true

scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

bin=build/fuzz/bin
crashes=build/fuzz/crashes
mkdir -p "$crashes"
failed=()
printf '%-18s %12s %8s %8s\n' target executions exec/s coverage
for target in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    log=build/fuzz/$target.log
    # Leaks are checked by the sanitizer builds' tests; here they would only stop the search.
    if "$bin/fuzz_$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" \
        -print_final_stats=1 -detect_leaks=0 -timeout=30 -rss_limit_mb=4096 \
        -artifact_prefix="$crashes/$target-" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        failed+=("$target")
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-18s %12s %8s %8s %s\n' "$target" "${runs:-?}" "${rate:-?}" "${coverage:-?}" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
    for target in "${failed[@]}"; do
        echo "=== fuzz_$target failed: the end of build/fuzz/$target.log ===" >&2
        tail -40 "build/fuzz/$target.log" >&2
    done
    exit 1
fi
