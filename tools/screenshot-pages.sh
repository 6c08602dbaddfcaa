#!/usr/bin/env bash
# Pictures of every page of velmo at 800x600, the default size and 1920x1080 under Xvfb, to look at.
# Usage: tools/screenshot-pages.sh [build-dir] [out-dir]   (default: build, build/pages)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(realpath -m "${2:-$build/pages}")
mkdir -p "$out"
cmake --build "$build" --target pages_screenshot
xvfb-run -a -s "-screen 0 1920x1080x24" "$build/tests/gui/app/pages_screenshot" "$out" 800x600 1100x704 1920x1080
