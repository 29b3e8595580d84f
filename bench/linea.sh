#!/usr/bin/env bash
# CPU at the line rate as users run it: the window shown under X with a window manager,
# «Auto escala» ticked, a full-scale sine (0..254, 500 samples a period) at 1920 B/s written in
# 32-, 8- and 1-byte pieces, 512 and 32766 points. Each case runs several times; the table
# gives the median and the range of the CPU (% of one core) and of the frames per second.
# Usage: bench/linea.sh [runs, default 5] [seconds a run, default 20]. Needs a build.
set -euo pipefail
cd "$(dirname "$0")/.."
corridas="${1:-5}"
segundos="${2:-20}"
source scripts/comun.sh
escritorio
campo() { grep -o "$1=[^ ]*" | head -1 | cut -d= -f2; }
# median and range of numbers, one a line
resumen() { sort -g | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
  printf "%.2f (%.2f-%.2f)", m, v[1], v[NR] }'; }

caso() { # label, write size, points, panel options...
  local nombre=$1 bloque=$2 ancho=$3
  shift 3
  : > "$tmp/cpu"; : > "$tmp/fps"; : > "$tmp/rss"
  for _ in $(seq "$corridas"); do
    simulador --inundar 100000000 --bytes-por-segundo 1920 --bloque "$bloque" --seno 500
    local out
    out=$(panel_escritorio --segundos "$segundos" --ancho "$ancho" "$@")
    pkill -f "velmora-simulador --enlace $tmp/puerto" 2> /dev/null || true
    rm -f "$tmp/registro.xls" # a new run must not be asked about the last one's records
    sleep 0.5
    echo "$out" | campo cpu_pct >> "$tmp/cpu"
    echo "$out" | campo frames_por_s >> "$tmp/fps"
    echo "$out" | campo rss_fin_kib >> "$tmp/rss"
  done
  printf '| %-44s | %6s | %-20s | %-20s | %5s |\n' "$nombre" "$ancho" "$(resumen < "$tmp/cpu")" \
    "$(resumen < "$tmp/fps")" "$(( $(sort -g "$tmp/rss" | tail -1) / 1024 ))"
}

printf '| %-44s | %6s | %-20s | %-20s | %5s |\n' "case (1920 samples/s)" "points" \
  "CPU % of a core" "frames per second" "MiB"
printf '|%s|%s|%s|%s|%s|\n' "----------------------------------------------" "--------" \
  "----------------------" "----------------------" "-------"
for bloque in 32 8 1; do
  for ancho in 512 32766; do
    caso "$bloque-byte writes, auto scale" "$bloque" "$ancho" --auto
  done
done
caso "32-byte writes, auto scale, minimised, logging" 32 512 --auto --minimizar \
  --registro "$tmp/registro.xls"
caso "32-byte writes, hand-set axis 0..50 (clips)" 32 512
echo
echo "$corridas runs of $segundos s a case; $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(date -u +%F)"
