#!/usr/bin/env bash
# Puts Debian's source of Google Benchmark, unpacked, in DEST, for builds that no Debian package
# serves (the MinGW-w64 build). Does nothing when DEST already holds it. Needs no root: apt works
# on a private state of its own, with deb-src of bookworm, checked against Debian's archive key.
# Usage: scripts/fetch-benchmark-source.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: $0 DEST}")
[ -f "$dest/CMakeLists.txt" ] && [ -f "$dest/include/benchmark/benchmark.h" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
cat >"$work/sources/debian-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF

apt=(apt-get -qq
     -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources"
     -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
# As root, apt would hand the download to its _apt user, which cannot write in a private folder.
[ "$(id -u)" -eq 0 ] && apt+=(-o APT::Sandbox::User=root)

echo "fetch-benchmark-source: fetching Debian's source of Google Benchmark into $dest" >&2
"${apt[@]}" update
(cd "$work/download" && "${apt[@]}" source --download-only benchmark >/dev/null)

orig=("$work"/download/benchmark_*.orig.tar.*)
[ -f "${orig[0]}" ] || { echo "fetch-benchmark-source: no orig tarball was fetched" >&2; exit 1; }
# Unpacked beside DEST and moved in whole, so an interrupted run leaves no half source behind.
mkdir -p "$(dirname "$dest")"
unpacked=$(mktemp -d "$dest.partial.XXXXXX")
tar -xf "${orig[0]}" -C "$unpacked" --strip-components=1
rm -rf "$dest"
mv "$unpacked" "$dest"
