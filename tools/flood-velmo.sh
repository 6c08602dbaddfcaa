#!/usr/bin/env bash
# velmo under a stream from the simulated module, headless, with the shipped interface: packets handled
# a second, velmo's CPU, resident memory, the longest event-loop stall, and how soon velmo is idle once
# the stream stops.
# Usage: tools/flood-velmo.sh [build-dir] [seconds] [nwsim stream option...]
#   tools/flood-velmo.sh build 60                          events as fast as the line takes them
#   tools/flood-velmo.sh build 60 --scan-stream 921600     scan results at the byte rate of 921600 baud
#   FLOOD_VELMO_ARGS="--capture /tmp/f.pcapng" tools/flood-velmo.sh build 60    the same, recorded
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/nwsim.sh"
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-60}
shift 2 || shift $# || true
stream=("$@")
[ ${#stream[@]} -gt 0 ] || stream=(--flood)
bin=$build/sdk/bin
for program in nwsim velmo; do
  [ -x "$bin/$program" ] || { echo "$bin/$program is missing: build it first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/flood.XXXXXX")
sim= velmo=
cleanup() {
  [ -n "$velmo" ] && kill "$velmo" 2>/dev/null || true
  [ -n "$sim" ] && { kill -CONT "$sim" 2>/dev/null; kill "$sim" 2>/dev/null; } || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The shipped interface, loaded whole, with a probe beside it: a 100 ms timer that records how late it
# fires, and a count of the stream's packets that reached the interface.
cat >"$work/main.qml" <<'QML'
import QtQuick 2.15
Item {
    property int packets: 0
    property real worst: 0
    property real last: 0
    Loader { anchors.fill: parent; source: "qrc:/qml/main.qml" }
    Connections {
        target: hardware
        function onQml_evt_change_notification(timestamp) { ++packets }
    }
    Connections {
        target: sme
        function onQml_evt_scan_result(bssid, channel, rssi, snr, secure, ssid) { ++packets }
    }
    Timer {
        interval: 100; repeat: true; running: true
        // The first firing only starts the clock: loading the interface is not a stall.
        onTriggered: { var now = Date.now(); if (last) worst = Math.max(worst, now - last - 100); last = now }
    }
    Timer {
        interval: 1000; repeat: true; running: true
        onTriggered: { console.log("probe", packets, Math.round(worst)); worst = 0 }
    }
}
QML

start_nwsim "$bin/nwsim" "$work/sim.log" "${stream[@]}" || exit 1

(cd "$work" && XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen exec "$bin/velmo" --port "$port" ${FLOOD_VELMO_ARGS:-} \
  >"$work/velmo.log" 2>&1) &
velmo=$!
sleep 0.5
velmo=$(pgrep -P "$velmo" velmo || echo "$velmo")

hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$velmo/stat"; }
rss_mb() { awk '/VmRSS/ {printf "%.0f", $2 / 1024}' "/proc/$velmo/status"; }
probe() { { grep '^qml: probe' "$work/velmo.log" || true; } | tail -n 1 | awk '{print $3}'; }

echo "stream: ${stream[*]} on $port for $seconds s"
start=$(date +%s.%N)
ticks0=$(cpu_ticks)
packets0=$(probe); packets0=${packets0:-0}
for mark in 5 10 20 30 40 50 60 90 120 300 600; do
  [ "$mark" -le "$seconds" ] || continue
  sleep "$(echo "$start + $mark - $(date +%s.%N)" | bc)"
  kill -0 "$velmo" 2>/dev/null || { echo "velmo ended early" >&2; cat "$work/velmo.log" >&2; exit 1; }
  echo "t=${mark}s  RSS $(rss_mb) MB  CPU $(echo "scale=0; ($(cpu_ticks) - $ticks0) * 100 / $hz / $mark" | bc) %"
done
packets=$(probe)
worst=$({ grep '^qml: probe' "$work/velmo.log" || true; } | awk '$4 > w {w = $4} END {print w + 0}')
echo "packets handled: $packets, $(( (packets - packets0) / seconds )) a second"
echo "longest event-loop stall: $worst ms (timer lateness)"
echo "longest stall in each second: $({ grep '^qml: probe' "$work/velmo.log" || true; } | awk '{printf "%s ", $4}')"

# The stream stops: the last tenth of a second in which velmo used 5 % of a core or more.
kill -STOP "$sim"
busy=0 trace=
for tenth in $(seq 1 30); do
  before=$(cpu_ticks)
  sleep 0.1
  used=$(( ($(cpu_ticks) - before) * 1000 / hz )); trace="$trace$used "
  [ "$used" -ge 5 ] && busy=$tenth
done
echo "busy until $(echo "scale=1; $busy / 10" | bc) s after the stream stopped, idle after that (ms of CPU per tenth: $trace)"
echo "RSS at the end $(rss_mb) MB"
