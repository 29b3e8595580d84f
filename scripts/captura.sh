#!/usr/bin/env bash
# The picture in the README: what `bash scripts/run.sh` shows (the simulator and the window as
# they start), under Xvfb, after 45 s running: two changes of set point on the trend.
# Usage: scripts/captura.sh [output png, default docs/velmora.png]
set -euo pipefail
cd "$(dirname "$0")/.."
salida="${1:-docs/velmora.png}"
bash scripts/build.sh > /dev/null
source scripts/comun.sh
simulador
# A neutral log path: the picture shows no build folder of this machine.
panel --segundos 45 --destino /home/usuario/registro.xls --captura "$salida"
echo "$salida"
