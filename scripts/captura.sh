#!/usr/bin/env bash
# The picture in the README: the panel on the simulator, under Xvfb, after a while running.
# Usage: scripts/captura.sh [output png, default docs/velmora.png]
set -euo pipefail
cd "$(dirname "$0")/.."
salida="${1:-docs/velmora.png}"
bash scripts/build.sh > /dev/null
source scripts/comun.sh
simulador --tasa 25 --setpoint 60 --alternar 120 --periodo 8
# A neutral log path: the picture shows no build folder of this machine.
panel --segundos 24 --auto --destino /home/usuario/registro.xls --captura "$salida"
echo "$salida"
