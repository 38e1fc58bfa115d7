#!/usr/bin/env bash
# The installed library as a Linux project finds it: `cmake --install` into a fresh prefix, then a
# CMake project outside the tree (find_package(crvmon CONFIG), target crvmon::crvmon) and a plain
# compiler command from pkg-config each build the consumer, which reads the installed crvmon-sim's
# machine. The package refuses a version it is not compatible with.
# Usage: linux_consumer_test.sh BUILD_DIR VERSION [C_FLAGS [LINK_FLAGS]]
#   The flags of the build (a sanitizer's), which a program loading its library must share.
set -u
build=${1:?the build folder to install}
version=${2:?the project version}
c_flags=${3:-}
link_flags=${4:-}
work=$(mktemp -d /tmp/crvmon-release-linux-XXXXXX)
# shellcheck source=consumer_helpers.sh
. "$(dirname "$0")/consumer_helpers.sh"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "cmake --install: $(cat "$work/install.log")"
for file in include/crvmon.h "lib/libcrvmon.so.$version" lib/libcrvmon.so \
    bin/crvmon-smi bin/crvmon-exporter bin/crvmon-sim lib/pkgconfig/crvmon.pc \
    lib/cmake/crvmon/crvmonConfig.cmake lib/cmake/crvmon/crvmonConfigVersion.cmake \
    share/doc/crvmon/LICENSE share/doc/crvmon/docs/{smi,exporter,python,release}.md; do
    [ -e "$prefix/$file" ] || fail "not installed: $file"
done
echo "ok: installed the library, its header, the tools, both package files and the manuals"

# The installed tools find the installed library, with nothing set.
export CRVMON_OBJECT_ROOT=$work/objects
start_simulation "$prefix/bin/crvmon-sim"

consumer=$release_tests/consumer
build_consumer "$work/cmake" "$prefix/lib/cmake/crvmon" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$c_flags" -DCMAKE_EXE_LINKER_FLAGS="$link_flags"
check_report "the CMake consumer" "$work/cmake/crvmon_consumer"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion crvmon)" = "$version" ] ||
    fail "pkg-config version: $(pkg-config --modversion crvmon 2>&1)"
# shellcheck disable=SC2046,SC2086  # the flags are words
cc -std=c11 -Wall -Wextra -Werror $c_flags $(pkg-config --cflags crvmon) "$consumer/hosted_main.c" \
    "$consumer/report.c" $link_flags $(pkg-config --libs crvmon) -o "$work/pc_consumer" \
    2>"$work/cc.log" ||
    fail "building with pkg-config's flags: $(cat "$work/cc.log")"
check_report "the pkg-config consumer" env LD_LIBRARY_PATH="$prefix/lib" "$work/pc_consumer"
stop_simulation

# A version of another major (or, before 1.0, minor) release is not this one.
newer="$((${version%%.*} + 1)).0"
cmake -S "$consumer" -B "$work/cmake-newer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCRVMON_WANTED_VERSION="$newer" >"$work/newer.log" 2>&1 &&
    fail "find_package(crvmon $newer) accepted version $version"
grep -q "$version" "$work/newer.log" || fail "the refusal does not name $version: $(cat "$work/newer.log")"
echo "ok: find_package(crvmon $newer) refuses version $version"
