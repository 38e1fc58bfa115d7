#!/usr/bin/env bash
# Builds the Python package's wheels, each with a library inside: one with libcrvmon.so for
# Linux, one with crvmon.dll for 64-bit Windows. Offline: Debian's setuptools and wheel build
# them, no package index is asked.
#
# Usage: scripts/build-wheels.sh [-o DIR] [LIBRARY...]
#   LIBRARY   a libcrvmon.so or a crvmon.dll, one wheel each. Default: build/release/bin's
#             libcrvmon.so and build/windows/bin's crvmon.dll, each built first (the library
#             target only) when it is not there.
#   -o DIR    where the wheels go (default: dist/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/dist
if [ "${1:-}" = "-o" ]; then
    out=$(mkdir -p "$2" && cd "$2" && pwd)
    shift 2
fi
# Debian's interpreter, where python3-setuptools and python3-wheel are, even where another
# python3 comes first in PATH.
python=${PYTHON:-$( [ -x /usr/bin/python3 ] && echo /usr/bin/python3 || echo python3 )}

version=$(sed -n 's/^project(crvmon VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
package_version=$(sed -n 's/^__version__ = "\(.*\)"/\1/p' "$root/python/crvmon/__init__.py")
if [ "$version" != "$package_version" ]; then
    echo "build-wheels: the package says $package_version, CMakeLists.txt $version" >&2
    exit 1
fi

libraries=("$@")
if [ ${#libraries[@]} -eq 0 ]; then
    for preset_and_file in release:libcrvmon.so windows:crvmon.dll; do
        preset=${preset_and_file%%:*}
        library=$root/build/$preset/bin/${preset_and_file#*:}
        if [ ! -f "$library" ]; then
            (cd "$root" && cmake --preset "$preset" >/dev/null &&
                cmake --build --preset "$preset" --target crvmon)
        fi
        libraries+=("$library")
    done
fi

# The tag says which machine the library runs on: read from the file, not assumed.
platform_of() {
    "$python" - "$1" <<'EOF'
import struct, sys, sysconfig
data = open(sys.argv[1], "rb").read(4096)
if data[:2] == b"MZ":
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine = struct.unpack_from("<H", data, pe + 4)[0] if data[pe:pe + 4] == b"PE\0\0" else 0
    print("win_amd64" if machine == 0x8664 else "")
elif data[:4] == b"\x7fELF":
    machine = struct.unpack_from("<H", data, 18)[0]
    host = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    print(host if machine == 62 and host == "linux_x86_64" else "")
EOF
}

mkdir -p "$out"
for library in "${libraries[@]}"; do
    platform=$(platform_of "$library")
    # The build's file may carry its version (libcrvmon.so.0.1.0); the package loads it by the
    # plain name.
    case "$(basename "$library"):$platform" in
    libcrvmon.so:linux_x86_64 | libcrvmon.so.*:linux_x86_64) name=libcrvmon.so ;;
    crvmon.dll:win_amd64) name=crvmon.dll ;;
    *)
        echo "build-wheels: $library is no x86-64 libcrvmon.so or crvmon.dll" >&2
        exit 1
        ;;
    esac
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    cp -r "$root/python/." "$stage/"
    rm -rf "$stage/build" "$stage"/*.egg-info
    cp "$library" "$stage/crvmon/$name"
    # Pure Python, so any Python 3; the library inside decides the platform.
    printf '[bdist_wheel]\npython_tag = py3\nplat_name = %s\n' "$platform" >"$stage/setup.cfg"
    "$python" -m pip wheel --quiet --no-build-isolation --no-deps -w "$out" "$stage"
    rm -rf "$stage"
    trap - EXIT
    echo "build-wheels: $out/crvmon-$version-py3-none-$platform.whl"
done
