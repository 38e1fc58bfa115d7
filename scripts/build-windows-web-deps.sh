#!/usr/bin/env bash
# Builds, with MinGW-w64, the static libraries the Windows exporter's --web.config.file needs and
# no Debian package carries: OpenSSL (TLS), libxcrypt (bcrypt) and yaml-cpp, from Debian's source
# of each, installed under PREFIX. Does nothing for a library PREFIX already holds, so a build
# tree pays for them once (about five minutes on two cores).
# Usage: scripts/build-windows-web-deps.sh PREFIX
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "${1:?usage: $0 PREFIX}")
sources=$prefix/src
jobs=$(nproc)
host=x86_64-w64-mingw32
mkdir -p "$prefix" "$sources"
# The libraries' own builds are long and warn a lot: their output goes to a log, shown on failure.
log=$prefix/build.log
quietly() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "build-windows-web-deps: failed: $*" >&2; exit 1; }; }

if [ ! -f "$prefix/lib64/libssl.a" ] && [ ! -f "$prefix/lib/libssl.a" ]; then
    "$root/scripts/fetch-debian-source.sh" openssl "$sources/openssl" Configure
    cd "$sources/openssl"
    quietly ./Configure mingw64 no-shared no-tests no-module no-engine \
        --cross-compile-prefix=$host- --prefix="$prefix" --libdir=lib
    quietly make -j"$jobs" build_libs
    quietly make install_dev
fi

if [ ! -f "$prefix/lib/libcrypt.a" ]; then
    "$root/scripts/fetch-debian-source.sh" libxcrypt "$sources/libxcrypt" configure.ac
    cd "$sources/libxcrypt"
    [ -x configure ] || quietly ./autogen.sh
    quietly ./configure --host=$host --disable-shared --enable-static --disable-werror \
        --disable-failure-tokens --prefix="$prefix"
    quietly make -j"$jobs"
    quietly make install
fi

if [ ! -f "$prefix/lib/libyaml-cpp.a" ]; then
    "$root/scripts/fetch-debian-source.sh" yaml-cpp "$sources/yaml-cpp" CMakeLists.txt
    quietly cmake -S "$sources/yaml-cpp" -B "$sources/yaml-cpp/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DYAML_CPP_BUILD_TESTS=OFF -DYAML_CPP_BUILD_TOOLS=OFF \
        -DYAML_CPP_BUILD_CONTRIB=OFF -DYAML_BUILD_SHARED_LIBS=OFF
    quietly cmake --build "$sources/yaml-cpp/build" -j"$jobs"
    quietly cmake --install "$sources/yaml-cpp/build"
fi
echo "build-windows-web-deps: OpenSSL, libxcrypt and yaml-cpp for MinGW in $prefix" >&2
