#!/usr/bin/env bash
# The picture in the README: the panel on the simulator, under Xvfb, after a while running.
# Usage: scripts/captura.sh [output png, default docs/velmora.png]
set -euo pipefail
cd "$(dirname "$0")/.."
salida="${1:-docs/velmora.png}"
bash scripts/build.sh > /dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; kill $(jobs -p) 2>/dev/null || true' EXIT
./build/tools/velmora-simulador --enlace "$tmp/puerto" --tasa 25 --setpoint 60 \
  --alternar 120 --periodo 8 > /dev/null &
for _ in $(seq 50); do [ -e "$tmp/puerto" ] && break; sleep 0.1; done
xvfb-run -a -s '-screen 0 1280x800x24' ./build/bench/panel_medido --puerto "$tmp/puerto" \
  --segundos 24 --auto --captura "$salida" 2>/dev/null
echo "$salida"
