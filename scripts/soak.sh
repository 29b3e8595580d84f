#!/usr/bin/env bash
# The panel on the simulator at the line rate with logging on, for a long run (default
# 10 minutes): samples sent against samples logged, and resident memory at start and end.
set -euo pipefail
cd "$(dirname "$0")/.."
minutos="${1:-10}"
bash scripts/build.sh > /dev/null
source scripts/comun.sh
segundos=$(( minutos * 60 ))
muestras=$(( segundos * 1920 ))
simulador --inundar "$muestras" --bytes-por-segundo 1920 --bloque 32 --espera 2000
panel --muestras "$muestras" --segundos $(( segundos + 30 )) --registro "$tmp/soak.xls" \
  --informe 60
registrados=$(wc -l < "$tmp/soak.xls")
enOrden=$(en_orden "$tmp/soak.xls")
echo "enviadas=$muestras registradas=$registrados en_orden=$enOrden perdidas=$(( muestras - enOrden ))"
