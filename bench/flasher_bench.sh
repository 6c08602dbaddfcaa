#!/usr/bin/env bash
# nwflash against simulated modules paced like real lines: upload time against the line's capacity (every
# byte both ways at 10 bits), and 16 modules in parallel against one, with nwflash's CPU time per module.
# Usage: bench/flasher_bench.sh [build-dir] [flash write us per chunk, default 200]
set -euo pipefail
build=$(realpath "${1:-build}")
write_us=${2:-200}
bin=$build/sdk/bin
work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"
cp -r "$build/sdk/example" ex
(cd ex && "$bin/kirrup" project.xml >/dev/null)
image=$work/ex/wifi.dfu

# Starts N simulated modules with the given options; their ports in $ports.
start_sims() {
  local n=$1
  shift
  ports=()
  for i in $(seq 1 "$n"); do
    "$bin/nwsim" --dfu "$@" >"sim$i.out" 2>/dev/null &
    pids+=($!)
  done
  for i in $(seq 1 "$n"); do
    while [ ! -s "sim$i.out" ]; do sleep 0.05; done
    ports+=("$(head -n1 "sim$i.out")")
  done
}
stop_sims() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; pids=(); }

# Per chunk 133 bytes out (header, length byte, 128 data) and 6 back; 4000 chunks.
bytes=$((4000 * (133 + 6)))
echo "upload of a 512000-byte image, module writing each chunk in ${write_us} us:"
for baud in 921600 115200; do
  capacity=$(python3 -c "print(f'{$bytes * 10 / $baud:.2f}')")
  for window in 4 1; do
    start_sims 1 --pace "$baud" --flash-write "$write_us"
    t=$( { /usr/bin/time -f '%e' "$bin/nwflash" -q -w "$window" "$image" "${ports[@]}" >/dev/null; } 2>&1 | tail -n1)
    stop_sims
    echo "  $baud baud, window $window: ${t} s; line capacity ${capacity} s; $(python3 -c "print(f'{100 * $capacity / $t:.0f}')") % of capacity"
  done
done

echo "parallel modules at 921600 baud, window 4:"
for n in 1 16; do
  start_sims "$n" --pace 921600 --flash-write "$write_us"
  read -r wall user sys < <( { /usr/bin/time -f '%e %U %S' "$bin/nwflash" -q "$image" "${ports[@]}" >/dev/null; } 2>&1 | tail -n1)
  stop_sims
  cpu=$(python3 -c "print(f'{($user + $sys) / $n * 1000:.0f}')")
  echo "  $n module(s): ${wall} s wall, nwflash CPU ${cpu} ms per module"
  [ "$n" -eq 1 ] && one=$wall
done
echo "  16 against 1: $(python3 -c "print(f'{$wall / $one:.2f}')") x; a 16-port bench flashes $(python3 -c "print(f'{16 * 3600 / $wall:.0f}')") modules per hour (plugging not counted)"
