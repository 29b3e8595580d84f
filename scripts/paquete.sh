#!/usr/bin/env bash
# Builds the Debian package velmora_<version>_<arch>.deb into the given folder (default: the
# current one) and checks it: lintian must report no error, the AppStream data must validate.
# VELMORA_BUILD=folder packages an existing build instead of setting up and building build/.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
salida="$(realpath -m "${1:-.}")"
build="${VELMORA_BUILD:-}"
if [ -z "$build" ]; then
  bash "$raiz/scripts/build.sh"
  build="$raiz/build"
fi
mkdir -p "$salida"
trabajo=$(mktemp -d)
trap 'rm -rf "$trabajo"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$trabajo" > "$trabajo/cpack.log" \
  || { cat "$trabajo/cpack.log" >&2; exit 1; }
deb=$(find "$trabajo" -maxdepth 1 -name 'velmora_*.deb')
mv "$deb" "$salida/"
deb="$salida/$(basename "$deb")"

appstreamcli validate --no-net "$raiz/packaging/org.velmora.Velmora.metainfo.xml" > /dev/null
# Errors fail the build of the package; anything else lintian says is printed.
lintian --fail-on error "$deb" 2> /dev/null
echo "$deb"
