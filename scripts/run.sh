#!/usr/bin/env bash
# Sets up, builds, and starts the panel connected to the controller simulator on a
# pseudo-terminal. Run again beside a first run, it never takes that run's link: a simulator
# that no panel is connected to is reused, otherwise this run starts its own on the next
# free link (/tmp/velmora-controlador-2, ...).
set -euo pipefail
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
  # A simulator on its own (the kernel's name is cut to 15 characters): ours to connect to.
  if [ "$quienes" = "velmora-simulad" ]; then reusar=1; break; fi
  echo "En $enlace ya hay un simulador con un panel conectado; se usa $base-$n." >&2
  enlace="$base-$n"
done
[ -n "$reusar" ] || ! titulares "$enlace" | grep -qx 'velmora-simulad' || {
  echo "Todos los enlaces de $base a $base-10 están en uso." >&2
  exit 1
}

if [ -n "$reusar" ]; then
  echo "El simulador ya está funcionando en $enlace: el panel se conecta a él." >&2
else
  ./build/tools/velmora-simulador --enlace "$enlace" 9>&- &
  simulador=$!
  trap 'kill "$simulador" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "$enlace" ] && break; sleep 0.1; done
fi

# The panel opens on the simulator's port, already connected; the next run may choose once
# it holds the port (or after ten seconds, if it cannot open it).
./build/src/velmora --conectar "$enlace" 9>&- &
panel=$!
for _ in $(seq 100); do
  [ "$(titulares "$enlace" | grep -cx 'velmora')" -gt 0 ] && break
  kill -0 "$panel" 2>/dev/null || break
  sleep 0.1
done
flock -u 9
wait "$panel"
