#!/usr/bin/env bash
# Installs the Debian 12 packages a build needs, if any is missing.
# Usage: scripts/install-deps.sh [checks|linux|windows|tools|analysis]...   (default: linux)
set -euo pipefail

linux=(cmake ninja-build g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev
       libtomlplusplus-dev libcli11-dev nlohmann-json3-dev
       libcpp-httplib-dev pkg-config python3)
checks=(clang-format-14)
# The real components the tools' tests run against: a browser and a Prometheus server.
tools=(chromium prometheus)
# scripts/static-analysis.sh and scripts/valgrind-tests.sh, over the linux build.
analysis=(clang-tidy-14 cppcheck valgrind python3)
windows=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64
         xz-utils curl iproute2)

wanted=()
for build in "${@:-linux}"; do
    case $build in
    checks) wanted+=("${checks[@]}") ;;
    linux) wanted+=("${linux[@]}") ;;
    windows) wanted+=("${linux[@]}" "${windows[@]}") ;;
    tools) wanted+=("${tools[@]}") ;;
    analysis) wanted+=("${linux[@]}" "${analysis[@]}") ;;
    *) echo "install-deps: unknown build '$build'" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
