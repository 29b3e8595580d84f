#!/usr/bin/env bash
# Many controllers, one broker: N bridges, each reading its own simulator at the line's 1920
# samples a second, through one local mosquitto to one subscriber (a historian's session),
# for S seconds; with "reinicio", the broker is stopped 5 s in the middle and started again.
# Prints samples read (the bridges' logs) against samples taken once by the subscriber, the
# repeats and gaps it saw, latency from each sample's own time, and CPU per bridge and of the
# broker (% of one core). Needs a build (scripts/build.sh) and mosquitto.
# Usage: bench/puentes.sh [bridges, default 20] [seconds, default 60] [reinicio]
# POR_ESCRITURA=8 has each simulator hand over its samples 8 at a time, as a USB adapter
# delivers them in packets (default 1: a write per sample, the most the machine can be asked).
set -euo pipefail
cd "$(dirname "$0")/.."
n="${1:-20}"
segundos="${2:-60}"
reinicio="${3:-}"
por_escritura="${POR_ESCRITURA:-1}"
tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; sleep 0.5; rm -rf "$tmp"' EXIT
puerto=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$tmp/mosquitto.conf" <<CONF
listener $puerto 127.0.0.1
allow_anonymous true
persistence true
persistence_location $tmp/
user root
max_queued_messages 100000
log_dest file $tmp/mosquitto.log
CONF
broker() { mosquitto -c "$tmp/mosquitto.conf" 2> /dev/null & echo $! > "$tmp/broker.pid"; sleep 0.5; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }

broker
./build/bench/suscriptor "$puerto" 8 > "$tmp/suscriptor.txt" 2> "$tmp/segundos.txt" &
sus=$!
for _ in $(seq 50); do grep -q listo "$tmp/suscriptor.txt" 2>/dev/null && break; sleep 0.1; done
sims=() puentes=()
for i in $(seq "$n"); do
  ./build/tools/velmora-simulador --enlace "$tmp/c$i" --tasa 1920 --alternar 40 --periodo 10 \
    --por-escritura "$por_escritura" \
    > /dev/null 2>&1 &
  sims+=($!)
done
for i in $(seq "$n"); do
  for _ in $(seq 50); do [ -e "$tmp/c$i" ] && break; sleep 0.1; done
  ./build/tools/puente/velmora-puente --puerto "$tmp/c$i" --nombre "horno$i" \
    --broker "mqtt://127.0.0.1:$puerto" --registro "$tmp/r$i.xls" 2> "$tmp/puente$i.log" &
  puentes+=($!)
done
sleep 5
hz=$(getconf CLK_TCK)
inicio=$(date +%s.%N)
declare -A antes
for p in "${puentes[@]}" "$(cat "$tmp/broker.pid")"; do antes[$p]=$(ticks "$p"); done
bpid=$(cat "$tmp/broker.pid")
if [ -n "$reinicio" ]; then
  sleep $((segundos / 2))
  b0=$(ticks "$bpid")
  kill -TERM "$bpid"; wait "$bpid" 2>/dev/null || true
  sleep 5
  broker
  bpid2=$(cat "$tmp/broker.pid")
  sleep $((segundos - segundos / 2 - 5))
  broker_ticks=$(( b0 - ${antes[$bpid]} + $(ticks "$bpid2") ))
else
  sleep "$segundos"
  broker_ticks=$(( $(ticks "$bpid") - ${antes[$bpid]} ))
fi
fin=$(date +%s.%N)
cpu=()
for p in "${puentes[@]}"; do
  cpu+=("$(awk -v t=$(( $(ticks "$p") - ${antes[$p]} )) -v hz="$hz" -v d="$(awk -v a="$inicio" -v b="$fin" 'BEGIN {print b - a}')" 'BEGIN {print t * 100 / hz / d}')")
done
# The controllers stop first, then the bridges, which send what they still hold.
kill "${sims[@]}" 2>/dev/null || true
sleep 1
kill -TERM "${puentes[@]}"
wait "${puentes[@]}" 2>/dev/null || true
wait "$sus" || true
leidas=$(cat "$tmp"/r*.xls | wc -l)
total=$(grep '^total' "$tmp/suscriptor.txt")
campo() { echo "$total" | grep -o "$1=[^ ]*" | cut -d= -f2; }
tomadas=$(campo muestras)
printf 'bridges %s, %s s%s, %s sample(s) a write: read %s, taken %s, lost %s, repeats %s, gaps %s\n' "$n" "$segundos" \
  "${reinicio:+, broker restarted}" "$por_escritura" "$leidas" "$tomadas" $((leidas - tomadas)) "$(campo repetidas)" "$(campo huecos)"
printf 'latency ms: p50 %s, p99 %s, worst %s\n' "$(campo latencia_p50_ms)" "$(campo latencia_p99_ms)" "$(campo latencia_max_ms)"
printf '%s\n' "${cpu[@]}" | sort -n | awk '{a[NR]=$1} END {printf "CPU per bridge, %% of a core: median %.2f (%.2f-%.2f)\n", a[int((NR+1)/2)], a[1], a[NR]}'
awk -v t="$broker_ticks" -v hz="$hz" -v a="$inicio" -v b="$fin" 'BEGIN {printf "broker CPU, %% of a core: %.2f\n", t * 100 / hz / (b - a)}'
awk -F'[= ]' '{n++; if ($4 > 100) {k++; if (!p) p = NR}} END {printf "seconds with a sample later than 100 ms: %d of %d%s\n", k, n, k ? " (the first " p - 1 " s in)" : ""}' "$tmp/segundos.txt"
