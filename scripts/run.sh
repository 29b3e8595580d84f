#!/usr/bin/env bash
# Sets up, builds, and starts the panel connected to the controller simulator on a
# pseudo-terminal. Run again beside a first run, it never takes that run's link: a simulator
# that no panel is connected to is reused, otherwise this run starts its own on the next
# free link (/tmp/velmora-controlador-2, ...).
# With --programa [ARCHIVO] (docs/programa-demo.txt if none), the panel runs that set-point
# program at once, on a simulator of its own that keeps the set points it is sent.
set -euo pipefail
programa=() opciones_simulador=()
if [ "${1:-}" = "--programa" ]; then
  archivo="${2:-$(dirname "$0")/../docs/programa-demo.txt}"
  [ -r "$archivo" ] || { echo "No se puede leer el programa $archivo." >&2; exit 1; }
  programa=(--programa "$(readlink -f "$archivo")" --iniciar)
  # The simulator's own changes of set point would fight the program's.
  opciones_simulador=(--alternar -1)
elif [ $# -gt 0 ]; then
  echo "Uso: scripts/run.sh [--programa [ARCHIVO]]" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
bash scripts/build.sh

# The programs that hold the pseudo-terminal behind a link open, one name a line.
titulares() {
  local destino
  destino=$(readlink -e "$1" 2>/dev/null) || return 0
  # Processes come and go while find looks: what it cannot read is not an answer.
  { find /proc/[0-9]*/fd -maxdepth 1 -lname "$destino" 2>/dev/null || true; } | while read -r fd; do
    cat "${fd%/fd/*}/comm" 2>/dev/null || true
  done | sort -u
}

base="${VELMORA_PUERTO:-/tmp/velmora-controlador}"
# Two runs started together would both find the same link free: one at a time chooses, until
# its panel holds the port. The programs started below do not inherit the lock.
exec 9> "$base.lock"
flock 9

enlace=$base
reusar=
for n in $(seq 2 10); do
  quienes=$(titulares "$enlace")
  # Nobody, or a link left behind whose pseudo-terminal the kernel gave to another program
  # (no simulator of ours holds it): a simulator of ours goes there.
  grep -qx 'velmora-simulad' <<< "$quienes" || { quienes=; break; }
  # A simulator on its own (the kernel's name is cut to 15 characters): ours to connect to,
  # unless a program is to run (that simulator changes its set point by itself).
  if [ "$quienes" = "velmora-simulad" ] && [ ${#programa[@]} -eq 0 ]; then reusar=1; break; fi
  if [ "$quienes" = "velmora-simulad" ]; then
    echo "En $enlace hay un simulador que cambia solo su set point; se usa $base-$n." >&2
  else
    echo "En $enlace ya hay un simulador con un panel conectado; se usa $base-$n." >&2
  fi
  enlace="$base-$n"
done
[ -n "$reusar" ] || ! titulares "$enlace" | grep -qx 'velmora-simulad' || {
  echo "Todos los enlaces de $base a $base-10 están en uso." >&2
  exit 1
}

if [ -n "$reusar" ]; then
  echo "El simulador ya está funcionando en $enlace: el panel se conecta a él." >&2
else
  ./build/tools/velmora-simulador --enlace "$enlace" "${opciones_simulador[@]}" 9>&- &
  simulador=$!
  trap 'kill "$simulador" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "$enlace" ] && break; sleep 0.1; done
fi

# The panel opens on the simulator's port, already connected; the next run may choose once
# it holds the port (or after ten seconds, if it cannot open it).
./build/src/velmora --conectar "$enlace" "${programa[@]}" 9>&- &
panel=$!
for _ in $(seq 100); do
  [ "$(titulares "$enlace" | grep -cx 'velmora')" -gt 0 ] && break
  kill -0 "$panel" 2>/dev/null || break
  sleep 0.1
done
flock -u 9
wait "$panel"
