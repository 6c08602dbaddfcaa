#!/usr/bin/env bash
# Starts the simulated module, lets velmo switch its radio on and scan under Xvfb, and saves a picture
# of the window (Qt grabs it itself).
# Usage: tools/screenshot-velmo.sh [build-dir] [out.png]   (default: build, build/velmo.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/nwsim.sh"
build=$(cd "${1:-$root/build}" && pwd)
out=$(realpath -m "${2:-$build/velmo.png}")

cmake --build "$build" --target velmo_screenshot nwsim
work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The window's command line reads the API definition from the working directory.
cp "$build/sdk/api/wifiapi.xml" "$work/wifi.xml"

start_nwsim "$build/sdk/bin/nwsim" "$work/sim.log" || exit 1

cd "$work"
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/gui/app/velmo_screenshot" "$out" "$port"
