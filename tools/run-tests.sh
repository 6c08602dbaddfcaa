#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: tools/run-tests.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/tools/setup.sh" "$build" "$@"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
