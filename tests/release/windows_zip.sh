#!/usr/bin/env bash
# The Windows zip as a user downloads it, made from this build by scripts/package-windows.sh:
# named for the project's version, holding exactly the files of windows_zip_contents.txt, unpacked
# into FOLDER/unpacked for the consumer tests. `remove` deletes FOLDER again.
# Usage: windows_zip.sh make BUILD_DIR VERSION FOLDER | windows_zip.sh remove FOLDER
set -u
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
here=$(cd "$(dirname "$0")" && pwd)

case ${1:-} in
remove)
    rm -rf "${2:?folder}"
    exit 0
    ;;
make) ;;
*) fail "usage: $0 make BUILD_DIR VERSION FOLDER | $0 remove FOLDER" ;;
esac
build=${2:?build folder}
version=${3:?project version}
folder=${4:?folder for the zip}

rm -rf "$folder"
mkdir -p "$folder"
"$here/../../scripts/package-windows.sh" --no-build --build-dir "$build" --dist "$folder" \
    >"$folder/package.log" 2>&1 || fail "package-windows.sh: $(cat "$folder/package.log")"
zip_file=$folder/crvmon-$version-windows-x64.zip
[ -f "$zip_file" ] || fail "no $(basename "$zip_file"): $(ls "$folder")"

unzip -Z1 "$zip_file" | grep -v '/$' | sort >"$folder/contents"
diff -u <(sort "$here/windows_zip_contents.txt") "$folder/contents" >"$folder/contents.diff" ||
    fail "the zip holds other files (- expected, + in the zip):
$(cat "$folder/contents.diff")"
echo "ok: $(basename "$zip_file") holds the $(wc -l <"$folder/contents") files of a release"

unzip -q "$zip_file" -d "$folder/unpacked" || fail "unzip failed"
# One version everywhere: the zip's name, the CMake package, the notes.
grep -q "PACKAGE_VERSION \"$version\"" "$folder/unpacked/lib/cmake/crvmon/crvmonConfigVersion.cmake" ||
    fail "crvmonConfigVersion.cmake is not version $version"
grep -q "^## $version\$" "$folder/unpacked/CHANGELOG.md" || fail "CHANGELOG.md has no $version"
# crvmon.lib is in the Microsoft linker's format (short import members, as lib.exe writes them;
# MinGW's libcrvmon.dll.a has none) and names every C export of the DLL.
llvm_nm=$(command -v llvm-nm-14 || command -v llvm-nm) || fail "llvm-nm not found (llvm-14)"
readobj=$(command -v llvm-readobj-14 || command -v llvm-readobj) ||
    fail "llvm-readobj not found (llvm-14)"
short_imports=$("$readobj" "$folder/unpacked/lib/crvmon.lib" | grep -c '^Format: COFF-import-file')
[ "$short_imports" -eq 43 ] || fail "crvmon.lib holds $short_imports short import members, not 43"
exports=$(x86_64-w64-mingw32-objdump -p "$folder/unpacked/bin/crvmon.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ && $3 !~ /^_Z/ {print $3}' |
    sort)
[ "$(wc -l <<<"$exports")" -eq 43 ] || fail "crvmon.dll has $(wc -l <<<"$exports") C exports"
imports=$("$llvm_nm" "$folder/unpacked/lib/crvmon.lib" 2>&1 | awk '$3 ~ /^__imp_/ {print substr($3, 7)}' |
    sort)
[ "$imports" = "$exports" ] || fail "crvmon.lib does not import exactly the DLL's C exports:
$(diff <(echo "$exports") <(echo "$imports"))"
echo "ok: versions agree; crvmon.lib imports the 43 C exports of crvmon.dll"
