#!/usr/bin/env bash
# Installs the Debian 12 packages a build needs, if any is missing.
# Usage: scripts/install-deps.sh [checks|fuzz|linux|windows|tools|python|analysis]...   (default: linux)
set -euo pipefail

linux=(cmake ninja-build g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev
       libtomlplusplus-dev libcli11-dev nlohmann-json3-dev
       libcpp-httplib-dev pkg-config python3 libssl-dev libcrypt-dev libyaml-cpp-dev openssl)
checks=(clang-format-14)
# libFuzzer comes with clang; its runtime with libclang-rt.
fuzz=(clang-14 libclang-rt-14-dev)
# The real components the tools' tests run against: a browser and a Prometheus server; lxml
# reads the DOM the browser dumps.
tools=(chromium prometheus python3-lxml)
# The Python package: its tests, its type check, and building and installing its wheel offline.
python=(python3 python3-pytest mypy python3-setuptools python3-wheel python3-pip python3-venv)
# scripts/static-analysis.sh and scripts/valgrind-tests.sh, over the linux build.
analysis=(clang-tidy-14 cppcheck valgrind python3)
# With the import library for the Microsoft linker (llvm-dlltool), the zip and the MSI (wixl;
# msitools reads an MSI's tables back), and what builds and links the Microsoft-ABI test program
# (clang, lld-link). OpenSSL, libxcrypt and yaml-cpp for MinGW are built from Debian's source:
# perl configures the first, the autotools (with libltdl's macros) the second.
windows=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64
         xz-utils curl iproute2 llvm-14 lld-14 clang-14 zip unzip wixl wixl-data msitools
         perl autoconf automake libtool libltdl-dev)

wanted=()
for build in "${@:-linux}"; do
    case $build in
    checks) wanted+=("${checks[@]}") ;;
    fuzz) wanted+=("${linux[@]}" "${fuzz[@]}") ;;
    linux) wanted+=("${linux[@]}") ;;
    windows) wanted+=("${linux[@]}" "${windows[@]}") ;;
    tools) wanted+=("${tools[@]}") ;;
    python) wanted+=("${python[@]}") ;;
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
