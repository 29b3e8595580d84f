#!/usr/bin/env bash
# The step-response picture in the README: the simulator's second-order plant (damping 0.4,
# 2 rad/s) under a proportional-only loop (gain 12: it settles at 12/13 of the set point) with
# ±1 count of noise, 50 samples a second, the set point going 20 -> 60 15 s after the
# simulator starts and back 15 s later; the window 23 s after the panel connects (it connects
# within a few seconds), so the step on show has settled. Under Xvfb.
# Usage: scripts/captura-respuesta.sh [output png, default docs/respuesta.png]
set -euo pipefail
cd "$(dirname "$0")/.."
salida="${1:-docs/respuesta.png}"
bash scripts/build.sh > /dev/null
source scripts/comun.sh
simulador --tasa 50 --setpoint 20 --alternar 60 --periodo 15 --planta-2o 0.4,2 --solo-p 12 \
  --ruido-uniforme 1
panel --segundos 23 --captura-respuesta "$salida" > /dev/null
echo "$salida"
