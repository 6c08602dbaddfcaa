#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: tools/run-fuzz.sh [seconds-per-target]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$root/build-fuzz
NW_CONFIGURE_ONLY=1 CC=clang CXX=clang++ "$root/tools/setup.sh" "$build" -DNW_FUZZ=ON -DNW_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target fuzz_all -j "$(nproc)"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$build/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds+=("$root/fuzz/corpus/$name")
  echo "== $name: ${seconds}s"
  if ! (cd "$build" && "$target" -max_total_time="$seconds" -rss_limit_mb=4096 "$corpus" "${seeds[@]}" \
        > "$build/$name.log" 2>&1); then
    tail -50 "$build/$name.log"
    status=1
  else
    tail -2 "$build/$name.log"
  fi
done
exit $status
