#!/usr/bin/env bash
# Makes the SDK's sample data, which is committed under sdk/:
#   sdk/fw/wifi.juo, sdk/fw/boot.juo   sample firmware and bootloader (tools/make-samples.py, deterministic)
#   sdk/example/certs/server.pem       the example project's self-signed certificate (openssl, new key
#                                      each run; the key is thrown away, the module only needs the certificate)
# Usage: tools/make-samples.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python3 "$root/tools/make-samples.py" "$root/sdk/fw"
mkdir -p "$root/sdk/example/certs"
key=$(mktemp)
trap 'rm -f "$key"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -days 3650 -sha256 \
  -subj "/C=FI/O=NW300 Example/CN=nw300.example" -out "$root/sdk/example/certs/server.pem" 2>/dev/null
echo "wrote sdk/fw/wifi.juo sdk/fw/boot.juo sdk/example/certs/server.pem"
