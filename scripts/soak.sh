#!/usr/bin/env bash
# The panel on the simulator at the line rate with logging on, for a long run (default
# 10 minutes): samples sent against samples logged, and resident memory at start and end.
set -euo pipefail
cd "$(dirname "$0")/.."
minutos="${1:-10}"
bash scripts/build.sh > /dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; kill $(jobs -p) 2>/dev/null || true' EXIT
segundos=$(( minutos * 60 ))
muestras=$(( segundos * 1920 ))
./build/tools/velmora-simulador --enlace "$tmp/puerto" --inundar "$muestras" \
  --bytes-por-segundo 1920 --bloque 32 --espera 2000 > /dev/null 2>&1 &
for _ in $(seq 50); do [ -e "$tmp/puerto" ] && break; sleep 0.1; done
xvfb-run -a -s '-screen 0 1280x800x24' ./build/bench/panel_medido --puerto "$tmp/puerto" \
  --muestras "$muestras" --segundos $(( segundos + 30 )) --registro "$tmp/soak.xls" \
  --informe 60 2>/dev/null
registrados=$(wc -l < "$tmp/soak.xls")
enOrden=$(awk -F'\t' '{ if (($3 + 0) == (NR - 1) % 255) ok++ } END { print ok + 0 }' "$tmp/soak.xls")
echo "enviadas=$muestras registradas=$registrados en_orden=$enOrden perdidas=$(( muestras - enOrden ))"
