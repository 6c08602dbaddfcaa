#!/usr/bin/env bash
# Starts the simulated module on a pseudo-terminal and velmo attached to it; the module ends with velmo.
# Usage: tools/run-sim-demo.sh [build-dir] [nwsim options...]   (for example: build -v to see its trace)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/nwsim.sh"
build=${1:-$root/build}
shift || true
bin=$build/sdk/bin
for program in nwsim velmo; do
  if [ ! -x "$bin/$program" ]; then
    echo "$bin/$program is missing: build it first (cmake --build $build --target nwsim velmo)" >&2
    exit 1
  fi
done

log=$(mktemp "${TMPDIR:-/tmp}/nwsim.XXXXXX")
sim=
tracer=
cleanup() {
  [ -n "$tracer" ] && kill "$tracer" 2>/dev/null || true
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  [ -n "$sim" ] && wait "$sim" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT

start_nwsim "$bin/nwsim" "$log" "$@" || exit 1
echo "simulated module on $port"
# Whatever else the module prints (its trace with -v) goes to this terminal.
tail -n +2 -f "$log" &
tracer=$!

"$bin/velmo" --port "$port"
