#!/usr/bin/env bash
# The main job: sets up what is missing, builds, and builds the SDK's example project with kirrup.
# Usage: tools/run-example.sh [build-dir] [extra cmake arguments...]
#
# The example is copied to <build-dir>/example-run (the SDK tree stays clean) and built there with
# build/sdk/bin/kirrup, which runs build/sdk/bin/tollan on the example script. The output shows the
# section report (software, hardware registers and port summaries, script, files, certificates,
# bootloader) followed by the memory report ("Memory used:" ... "Free  :"). The built images are
# <build-dir>/example-run/wifi.dfu (512000 bytes of program flash) and wifi.hex (boot and program
# flash in Intel HEX); the script exits with kirrup's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/tools/setup.sh" "$build" "$@"

work=$build/example-run
rm -rf "$work"
cp -r "$build/sdk/example" "$work"
cd "$work"
echo "== kirrup project.xml in $work"
status=0
"$build/sdk/bin/kirrup" project.xml || status=$?
if [ "$status" -eq 0 ]; then
  echo "== built: $work/wifi.dfu ($(stat -c %s wifi.dfu) bytes), $work/wifi.hex ($(stat -c %s wifi.hex) bytes)"
else
  echo "== kirrup failed with status $status" >&2
fi
exit "$status"
