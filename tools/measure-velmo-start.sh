#!/usr/bin/env bash
# velmo's start on a virtual X display: from the program's start to the first frame of its interface, and
# to the port remembered from the last run being open again (the simulated module's port). Medians and
# ranges of several runs.
# Usage: tools/measure-velmo-start.sh [build-dir] [runs]      (default: build, 15)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/nwsim.sh"
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-15}
cmake --build "$build" --target bench_start nwsim >/dev/null

work=$(mktemp -d)
sim= xvfb=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
start_nwsim "$build/sdk/bin/nwsim" "$work/sim.log" || exit 1
display=:$((100 + RANDOM % 800))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
mkdir -p "$work/config/Halvane"
cd "$work"
frames=() ports=()
for _ in $(seq "$runs"); do
  printf '[General]\nportPath=%s\nportOpen=true\nbaudRate=115200\n' "$port" >"$work/config/Halvane/velmo88.conf"
  start=$(date +%s%N)
  out=$(DISPLAY=$display XDG_CONFIG_HOME=$work/config "$build/bench/bench_start" 2>/dev/null) || { echo "run failed" >&2; exit 1; }
  frames+=($(( ($(sed -n 's/^frame //p' <<<"$out") - start) / 1000000 )))
  ports+=($(( ($(sed -n 's/^port //p' <<<"$out") - start) / 1000000 )))
done
report() {
  local name=$1; shift
  sorted=($(printf '%s\n' "$@" | sort -n))
  echo "$name: median ${sorted[$(( ${#sorted[@]} / 2 ))]} ms (min ${sorted[0]}, max ${sorted[-1]}, $runs runs)"
}
report "start to first frame" "${frames[@]}"
report "start to remembered port open" "${ports[@]}"
