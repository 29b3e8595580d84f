#!/usr/bin/env bash
# Runs the built suite several times in parallel beside two busy loops and a parallel build
# of the project, as on a loaded or much slower machine, and tells how many runs each suite
# failed. A test that waits for a fixed time instead of for what it waits for shows up here.
#   scripts/test-carga.sh [RUNS] [CTEST OPTIONS...]   (default 5 runs of build/)
set -euo pipefail
cd "$(dirname "$0")/.."
vueltas="${1:-5}"
shift || true
dir="${VELMORA_BUILD:-build}"
[ -f "$dir/CTestTestfile.cmake" ] || { echo "no hay suite construida en $dir" >&2; exit 2; }

registros=$(mktemp -d)
ocupados=()
parar() {
  local pid
  # Each load runs in a process group of its own: the build's compilers go with it.
  for pid in "${ocupados[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  for pid in "${ocupados[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap 'parar; rm -rf "$registros"' EXIT
for _ in 1 2; do
  setsid sh -c 'while :; do :; done' &
  ocupados+=($!)
done
# The project built over and over in a folder of its own, two jobs at a time.
cmake -S . -B "$registros/obra" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
setsid sh -c "while :; do cmake --build '$registros/obra' -j2 > /dev/null 2>&1;
  cmake --build '$registros/obra' --target clean > /dev/null 2>&1; done" &
ocupados+=($!)

declare -A fallos=()
for v in $(seq "$vueltas"); do
  inicio=$SECONDS
  rc=0
  ctest --test-dir "$dir" -j4 --output-on-failure "$@" > "$registros/$v.log" 2>&1 || rc=$?
  # ctest lists each failed test as "<number> - <name> (<reason>)" after this line.
  mapfile -t fallidos < <(sed -n '/The following tests FAILED/,$p' "$registros/$v.log" \
    | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p')
  echo "vuelta $v: $((SECONDS - inicio)) s, fallan: ${fallidos[*]:-ninguno}"
  for t in "${fallidos[@]}"; do
    fallos[$t]=$((${fallos[$t]:-0} + 1))
    cp "$registros/$v.log" "${TMPDIR:-/tmp}/velmora-carga-$v.log"
  done
  if [ "$rc" -ne 0 ] && [ ${#fallidos[@]} -eq 0 ]; then
    echo "ctest terminó con $rc sin nombrar pruebas:" >&2
    tail -20 "$registros/$v.log" >&2
    fallos[ctest]=$((${fallos[ctest]:-0} + 1))
  fi
done

echo "fallos por suite en $vueltas vueltas:"
if [ ${#fallos[@]} -eq 0 ]; then
  echo "  ninguno"
  exit 0
fi
for t in "${!fallos[@]}"; do echo "  $t: ${fallos[$t]} de $vueltas"; done | sort
echo "salida de las vueltas con fallos: ${TMPDIR:-/tmp}/velmora-carga-N.log"
exit 1
