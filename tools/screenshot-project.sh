#!/usr/bin/env bash
# Builds the example project in velmo's project page under Xvfb and saves a picture of the window.
# Usage: tools/screenshot-project.sh [build-dir] [out.png]   (default: build, build/project-page.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/project-page.png}

cmake --build "$build" --target project_screenshot kirrup tollan velmo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$build/sdk/example" "$work/example"
# The window's command line reads the API definition from the working directory.
cp "$build/sdk/api/wifiapi.xml" "$work/wifi.xml"
# NW_SHOT_BROKEN=1: a hardware file that is not there, to see a failed build.
[ "${NW_SHOT_BROKEN:-0}" = 1 ] && sed -i 's/in="hardware.xml"/in="missing.xml"/' "$work/example/project.xml"

cd "$work"
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tests/gui/project/project_screenshot" "$(realpath -m "$out")" "$work/example/project.xml" "$build/sdk/bin"
