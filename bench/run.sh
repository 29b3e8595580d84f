#!/usr/bin/env bash
# Every benchmark of the panel: the pipeline alone, the flood end to end, then the line rate
# as users run it. Needs a build (scripts/build.sh).
# Usage: bench/run.sh [line-rate runs, default 5] [seconds a run, default 20]
#                     [flood samples, default 10000000]
set -euo pipefail
cd "$(dirname "$0")/.."
corridas="${1:-5}"
segundos="${2:-20}"
inundacion="${3:-10000000}"
source scripts/comun.sh
campo() { grep -o "$1=[^ ]*" | head -1 | cut -d= -f2; }

# 1. The pipeline alone, and one chart redraw, offscreen.
pipeline=$(./build/bench/bench_pipeline 2 2>/dev/null)
p_off=($(echo "$pipeline" | grep 'sin registro' | awk '{print $(NF-1), $NF}'))
p_on=($(echo "$pipeline" | grep 'con registro' | awk '{print $(NF-1), $NF}'))
p_draw=($(echo "$pipeline" | grep 'redibujo' | awk '{print $(NF-1), $NF}'))

# 2. End to end: the simulator floods the panel in 4 KiB writes with logging on; the log is
#    compared with what was sent, value by value, in order.
declare -A e2e perdidas
for ancho in 512 32766; do
  simulador --inundar "$inundacion" --bloque 4096 --espera 1500 --salir
  out=$(panel --muestras "$inundacion" --segundos 120 --ancho "$ancho" --registro "$tmp/flood.xls")
  e2e[$ancho]=$(echo "$out" | campo muestras_por_s)
  perdidas[$ancho]=$(( inundacion - $(en_orden "$tmp/flood.xls") ))
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -f "$tmp/flood.xls"
done

printf '| %-52s | %12s | %12s |\n' "" "512 puntos" "32766 puntos"
printf '|%s|%s|%s|\n' "------------------------------------------------------" "--------------" "--------------"
fila() { printf '| %-52s | %12s | %12s |\n' "$1" "$2" "$3"; }
fila "pipeline, samples/s, logging off" "${p_off[0]}" "${p_off[1]}"
fila "pipeline, samples/s, logging on" "${p_on[0]}" "${p_on[1]}"
fila "one chart redraw, ms (offscreen)" "${p_draw[0]}" "${p_draw[1]}"
fila "end to end flood, samples/s, logging on" "${e2e[512]}" "${e2e[32766]}"
fila "end to end flood, samples lost of $inundacion" "${perdidas[512]}" "${perdidas[32766]}"
echo

# 3. The line rate as users run it (its own table).
bash bench/linea.sh "$corridas" "$segundos"
