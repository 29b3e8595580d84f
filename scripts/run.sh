#!/usr/bin/env bash
# Sets up, builds, and starts the panel connected to the controller simulator on a
# pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh

enlace="${VELMORA_PUERTO:-/tmp/velmora-controlador}"
./build/tools/velmora-simulador --enlace "$enlace" &
simulador=$!
trap 'kill "$simulador" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$enlace" ] && break; sleep 0.1; done

# The panel opens on the simulator's port, already connected.
./build/src/velmora --conectar "$enlace"
