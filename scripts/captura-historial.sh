#!/usr/bin/env bash
# The log window's picture in the README: 40 s of the simulator's second-order plant (damping
# 0.4, 2 rad/s) under a proportional-only loop of gain 12, ±1 count of noise, 200 samples a
# second, the set point 20 and 60 in turns of 15 s, logged with milliseconds; then the log
# opened in its window on its last whole step, the sample at the peak under the mouse.
# Under Xvfb.
# Usage: scripts/captura-historial.sh [output png, default docs/historial.png]
set -euo pipefail
cd "$(dirname "$0")/.."
salida="${1:-docs/historial.png}"
bash scripts/build.sh > /dev/null
source scripts/comun.sh
simulador --tasa 200 --setpoint 20 --alternar 60 --periodo 15 --planta-2o 0.4,2 --solo-p 12 \
  --ruido-uniforme 1
panel --segundos 40 --milisegundos --registro "$tmp/registro.xls" \
  --captura-historial "$salida" > /dev/null
echo "$salida"
