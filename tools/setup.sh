#!/usr/bin/env bash
# Installs the Debian packages the build needs (only the missing ones), then configures and builds.
# Usage: tools/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

packages=(g++ make cmake python3 pkg-config zlib1g-dev lemon libudev-dev
  qtbase5-dev qtdeclarative5-dev libqt5serialport5-dev libqt5svg5 qml-module-qtquick2 qml-module-qtquick-window2
  qml-module-qtquick-controls2 qml-module-qtquick-layouts qml-module-qtquick-dialogs
  xvfb xauth clang libclang-rt-14-dev libbenchmark-dev openssl libssl-dev binutils lua5.4
  help2man lintian desktop-file-utils appstream man-db libedit-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]} (run this script as root to install them)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" "$@"
# NW_CONFIGURE_ONLY=1: the caller builds its own targets.
[ "${NW_CONFIGURE_ONLY:-0}" = 1 ] || cmake --build "$build" -j "$(nproc)"
