#!/usr/bin/env bash
# Renders the menu icons in the usual hicolor sizes from resources/velmora.svg into
# packaging/iconos/, where they are kept, so that building needs no SVG renderer.
# Run it after changing the SVG and commit what it writes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for tam in 16 24 32 48 64 128 256; do
  mkdir -p "packaging/iconos/$tam"
  rsvg-convert -w "$tam" -h "$tam" -o "packaging/iconos/$tam/velmora.png" resources/velmora.svg
done
