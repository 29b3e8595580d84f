#!/usr/bin/env bash
# Installs every Debian package the project needs, only those missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config  # toolchain
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libqcustomplot-dev
  libeigen3-dev                                 # the step response's fitted model
  libmosquitto-dev mosquitto                    # the MQTT bridge; the broker its tests start
  systemd                                       # systemd-analyze checks the bridge's unit
  qt6-translations-l10n                         # Qt's own texts (buttons, file dialog) in Spanish
  fonts-liberation                              # the window's font, also in look tests
  xvfb xauth openbox x11-utils                  # benchmarks, soak and screenshot under X
  librsvg2-bin dpkg-dev lintian appstream       # icons (scripts/iconos.sh), the package, its checks
  clang libclang-rt-dev                         # libFuzzer for the fuzz target
  g++-mingw-w64-x86-64-posix                    # the Windows branches' syntax check
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
