#!/usr/bin/env bash
# Makes the Debian package from a built tree and checks it as a user's machine would meet it:
# lintian, the desktop file, the AppStream metainfo, the manual pages, and the programs run from the
# unpacked package (kirrup builds the installed example project; tollan answers --version and --help).
# Usage: tools/package.sh [build-dir]     (after tools/setup.sh or tools/run-tests.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/nw300-tools_*.deb | head -n1)
echo "== package: $deb"
dpkg-deb -f "$deb" Package Version Depends

echo "== lintian"
# As root lintian warns about running as root; that says nothing about the package.
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "lintian found errors" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dpkg -x "$deb" "$stage"

echo "== desktop file and metainfo"
desktop-file-validate "$stage"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml

echo "== manual pages"
for page in "$stage"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    exit 1
  fi
  echo "$(basename "$page"): renders"
done
for p in "$stage"/usr/lib/nw300/bin/*; do
  [ -e "$stage/usr/share/man/man1/$(basename "$p").1.gz" ] || { echo "no manual page for $(basename "$p")" >&2; exit 1; }
  [ -L "$stage/usr/bin/$(basename "$p")" ] || { echo "$(basename "$p") is not on PATH" >&2; exit 1; }
done

echo "== the programs from the unpacked package"
"$stage/usr/bin/tollan" --version
"$stage/usr/bin/tollan" --help >/dev/null
example="$stage/usr/lib/nw300/example"
(cd "$example" && "$stage/usr/bin/kirrup" project.xml >/dev/null)
# The same project built with the build tree's programs must give the same image.
ref=$(mktemp -d)
cp -r "$build/sdk/example/." "$ref"
(cd "$ref" && "$build/sdk/bin/kirrup" project.xml >/dev/null)
cmp "$example/wifi.dfu" "$ref/wifi.dfu"
cmp "$example/wifi.hex" "$ref/wifi.hex"
rm -rf "$ref"
echo "installed kirrup built the example: wifi.dfu $(stat -c %s "$example/wifi.dfu") bytes, same as the build tree's"
echo "== package checks passed"
