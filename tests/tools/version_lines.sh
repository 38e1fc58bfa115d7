#!/usr/bin/env bash
# Each program's --version: one line "NAME VERSION (revision R)", exit code 0, VERSION the
# project's and R the same source revision for all (a commit hash, "-dirty" with changes beside
# it, or "unknown" outside a checkout).
# Usage: version_lines.sh VERSION PROGRAM... [-- EMULATOR...]
set -u
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
version=${1:?project version}
shift
programs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    programs+=("$1")
    shift
done
[ $# -gt 0 ] && shift
emulator=("$@")

revisions=()
for program in "${programs[@]}"; do
    name=$(basename "$program" .exe)
    output=$("${emulator[@]}" "$program" --version </dev/null 2>&1) ||
        fail "$name --version exited $?: $output"
    output=${output%$'\r'}
    [[ $output =~ ^$name\ ([^ ]+)\ \(revision\ ([0-9a-f]{12}(-dirty)?|unknown)\)$ ]] ||
        fail "$name --version printed: $output"
    [ "${BASH_REMATCH[1]}" = "$version" ] || fail "$name is version ${BASH_REMATCH[1]}, not $version"
    revisions+=("${BASH_REMATCH[2]}")
done
[ "$(printf '%s\n' "${revisions[@]}" | sort -u | wc -l)" -eq 1 ] ||
    fail "the programs name different revisions: ${revisions[*]}"
echo "ok: ${#programs[@]} programs are version $version, revision ${revisions[0]}"
