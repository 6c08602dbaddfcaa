#!/usr/bin/env bash
# Takes a picture of velmo's Firmware page in the middle of an upload to the simulated module, under a
# virtual display; Qt grabs the window itself.
# Usage: tools/screenshot-upload.sh [build-dir] [out.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$build/upload-page.png}
if ! cmake --build "$build" --target upload_screenshot >/dev/null; then
  echo "screenshot-upload: the build needs -DNW_BENCH=ON and the parts link, upload, app" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x900x24" "$build/bench/upload_screenshot" "$out"
echo "$out"
