#!/usr/bin/env bash
# Puts Debian's source of a package, unpacked, in DEST, for builds that no Debian package serves
# (the MinGW-w64 build of Google Benchmark and cpp-httplib). Does nothing when DEST already holds
# MARKER, a file the source must have. Needs no root: apt works on a private state of its own,
# with deb-src of bookworm, checked against Debian's archive key.
# Usage: scripts/fetch-debian-source.sh SOURCE_PACKAGE DEST MARKER
set -euo pipefail
package=${1:?usage: $0 SOURCE_PACKAGE DEST MARKER}
dest=$(realpath -m "${2:?usage: $0 SOURCE_PACKAGE DEST MARKER}")
marker=${3:?usage: $0 SOURCE_PACKAGE DEST MARKER}
[ -f "$dest/$marker" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sources" "$work/lists/partial" "$work/cache/archives/partial" "$work/download"
cat >"$work/sources/debian-src.sources" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES

apt=(apt-get -qq
     -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/sources"
     -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
# As root, apt would hand the download to its _apt user, which cannot write in a private folder.
[ "$(id -u)" -eq 0 ] && apt+=(-o APT::Sandbox::User=root)

echo "fetch-debian-source: fetching Debian's source of $package into $dest" >&2
"${apt[@]}" update
(cd "$work/download" && "${apt[@]}" source --download-only "$package" >/dev/null)

orig=("$work"/download/"${package}"_*.orig.tar.*)
[ -f "${orig[0]}" ] || { echo "fetch-debian-source: no orig tarball of $package was fetched" >&2; exit 1; }
# Unpacked beside DEST and moved in whole, so an interrupted run leaves no half source behind.
mkdir -p "$(dirname "$dest")"
unpacked=$(mktemp -d "$dest.partial.XXXXXX")
tar -xf "${orig[0]}" -C "$unpacked" --strip-components=1
[ -f "$unpacked/$marker" ] || { echo "fetch-debian-source: $package has no $marker" >&2; exit 1; }
rm -rf "$dest"
mv "$unpacked" "$dest"
