#!/usr/bin/env bash
# Runs one Windows program of the build under Wine, for CTest and test discovery, and passes its
# exit code on. Under WINEDEBUG=-all Wine says nothing when it, not the program, ends the run: a
# DLL it could not load (exit 53, before the program prints a line), or wine64 itself ended by a
# signal. This says so on standard error, so that such a failure is not read as the program's.
#
# Wine now and then loses a new process at its start, in the whole Windows run: wine64 ends
# with exit code 1 in a hundredth of a second, before the program's first line, with nothing on
# either stream (seen about once in three whole Windows runs; the same program passes when run
# again). The programs run here write before they fail (GoogleTest's first line, a tool's answer
# or message), so a run that ended with 1 having written nothing did not run: it is started
# again, at most twice, said so on standard error and listed in wine-lost-starts.log beside the
# prefix. A program that fails having written something, fails with another code, or fails so
# three times, fails.
# Usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
prefix=${1:?wine prefix}
shift
program=${1:?program}
export WINEPREFIX=$prefix WINEDEBUG=-all

say() { echo "wine-run: $*" >&2; }
output=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
for attempt in 1 2 3; do
    # Through tee, so that a test stopped at its time-out still shows what it wrote.
    (/usr/lib/wine/wine64 "$@" 2>&1 1>&3 | tee "$errors" >&2; exit "${PIPESTATUS[0]}") 3>&1 |
        tee "$output"
    code=${PIPESTATUS[0]}
    [ "$code" -eq 1 ] && [ ! -s "$output" ] && [ ! -s "$errors" ] && [ "$attempt" -lt 3 ] || break
    say "$(basename "$program") ended with exit code 1 before writing anything;" \
        "Wine lost it at its start: running it again"
    # Said again at the end of the run (scripts/test-all.sh), so that no loss passes unseen.
    echo "$(date -u +%FT%TZ) $(basename "$program") ${*:2}" \
        >>"$(dirname "$prefix")/wine-lost-starts.log"
done
[ "$code" -eq 0 ] && exit 0

if [ "$code" -ge 128 ] && [ "$code" -lt 160 ]; then
    say "wine64 running $(basename "$program") was ended by signal $((code - 128))"
elif [ "$code" -eq 53 ]; then
    # The DLLs the program imports that are neither beside it nor Wine's own.
    missing=()
    while read -r dll; do
        [ -e "$(dirname "$program")/$dll" ] || [ -e "$prefix/drive_c/windows/system32/${dll,,}" ] ||
            missing+=("$dll")
    done < <(x86_64-w64-mingw32-objdump -p "$program" 2>/dev/null | sed -n 's/^\s*DLL Name: //p')
    say "Wine could not start $(basename "$program") (exit 53: a DLL it imports did not load;" \
        "not found: ${missing[*]:-none})"
else
    say "$(basename "$program") ended with exit code $code"
fi
exit "$code"
