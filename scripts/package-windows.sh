#!/usr/bin/env bash
# Builds the Windows release (the `windows` preset, Release, without tests, in
# build/package-windows) and writes, VERSION being the project's:
#  - dist/crvmon-VERSION-windows-x64.zip: what `cmake --install` puts under a prefix (bin/ the DLL
#    and the tools, include/crvmon.h, lib/ both import libraries and the CMake package, the notes
#    at the top), the simulator and its driver included, for developers;
#  - dist/crvmon-VERSION-windows-x64.msi: the same without the simulator, for fleets: into
#    Program Files\crvmon, bin\ on the PATH, the exporter as a service (scripts/windows-msi.sh).
# Usage: scripts/package-windows.sh [--build-dir DIR] [--dist DIR] [--no-build]
#   --no-build: package DIR as it is built (the tests package their own build this way).
set -euo pipefail
cd "$(dirname "$0")/.."

die() {
    echo "package-windows: $*" >&2
    exit 1
}

build=build/package-windows
dist=dist
make_build=yes
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=${2:?--build-dir needs a folder}; shift 2 ;;
    --dist) dist=${2:?--dist needs a folder}; shift 2 ;;
    --no-build) make_build=no; shift ;;
    *) die "unknown argument '$1' (usage: $0 [--build-dir DIR] [--dist DIR] [--no-build])" ;;
    esac
done
dist=$(realpath -m "$dist")

if [ $make_build = yes ]; then
    scripts/install-deps.sh windows
    cmake --preset windows -B "$build" -DCMAKE_BUILD_TYPE=Release -DCRVMON_BUILD_TESTS=OFF \
        >/dev/null
    cmake --build "$build"
fi
[ -f "$build/CMakeCache.txt" ] || die "$build is not a configured build folder"
[ -f "$build/bin/crvmon.dll" ] || die "$build holds no crvmon.dll: not a built Windows build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
# Every release says what it brings.
grep -q "^## $version\$" CHANGELOG.md || die "CHANGELOG.md has no section '## $version'"

stage=$(mktemp -d /tmp/crvmon-package-XXXXXX)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/crvmon" >"$stage/install.log" 2>&1 ||
    die "cmake --install failed: $(cat "$stage/install.log")"

zip_file=$dist/crvmon-$version-windows-x64.zip
mkdir -p "$dist"
rm -f "$zip_file"
(cd "$stage/crvmon" && zip -q -r -X "$zip_file" .)
msi_file=$dist/crvmon-$version-windows-x64.msi
rm -f "$msi_file"
scripts/windows-msi.sh "$stage/crvmon" "$version" "$msi_file"
echo "$zip_file"
echo "$msi_file"
