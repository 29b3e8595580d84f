#!/usr/bin/env bash
# The Debian package as a user gets it: built and checked, unpacked into a scratch folder,
# its files in place, and the unpacked panel answering and starting offscreen.
# Usage: tst_paquete.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
raiz=$1 build=$2 version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fallos=0
falla() { echo "FAIL: $*"; fallos=$((fallos + 1)); }

VELMORA_BUILD="$build" bash "$raiz/scripts/paquete.sh" "$tmp" > "$tmp/informe" \
  || { cat "$tmp/informe"; echo "0 passed, 1 failed"; exit 1; }
deb="$tmp/velmora_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$tmp"; echo "0 passed, 1 failed"; exit 1; }
dpkg-deb -x "$deb" "$tmp/raiz"
r="$tmp/raiz/usr"

for f in bin/velmora bin/velmora-simulador bin/velmora-puente; do
  [ -x "$r/$f" ] || falla "no program $f"
done
for f in share/applications/org.velmora.Velmora.desktop \
         share/metainfo/org.velmora.Velmora.metainfo.xml \
         share/man/man1/velmora.1.gz share/man/man1/velmora-simulador.1.gz \
         share/man/man1/velmora-puente.1.gz share/doc/velmora/ejemplos/puente.conf \
         share/icons/hicolor/scalable/apps/velmora.svg \
         share/doc/velmora/copyright share/doc/velmora/changelog.gz; do
  [ -s "$r/$f" ] || falla "missing $f"
done
for tam in 16 24 32 48 64 128 256; do
  png="$r/share/icons/hicolor/${tam}x${tam}/apps/velmora.png"
  # The PNG header gives the width at bytes 16 to 19.
  ancho=$(od -An -tu4 --endian=big -j16 -N4 "$png" 2>/dev/null | tr -d ' ')
  [ "$ancho" = "$tam" ] || falla "icon ${tam}x${tam} is ${ancho:-missing} wide"
done
grep -q '^Exec=velmora$' "$r/share/applications/org.velmora.Velmora.desktop" \
  || falla "menu entry does not start velmora"
zcat "$r/share/man/man1/velmora.1.gz" | grep -q 'B .-.-conectar' || falla "manual page without --conectar"
depende=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libqcustomplot libmosquitto1 qt6-translations-l10n; do
  grep -q "$lib" <<< "$depende" || falla "Depends lacks $lib: $depende"
done

[ "$("$r/bin/velmora" --version | head -n 1)" = "velmora $version" ] || falla "--version"
"$r/bin/velmora" --version | grep -q "GPL-3.0-or-later" || falla "--version without the licence"
grep -q "^License: GPL-3+" "$r/share/doc/velmora/copyright" || falla "copyright without GPL-3+"
# The bridge's unit as systemd reads it, on the unpacked program and manual page.
unidad="$tmp/raiz/lib/systemd/system/velmora-puente@.service"
if [ -s "$unidad" ]; then
  sed "s|/usr/bin/velmora-puente|$r/bin/velmora-puente|" "$unidad" > "$tmp/velmora-puente@prueba.service"
  MANPATH="$r/share/man" systemd-analyze verify "$tmp/velmora-puente@prueba.service" > "$tmp/verify" 2>&1 \
    || { cat "$tmp/verify"; falla "systemd-analyze verify refuses the bridge's unit"; }
else
  falla "no unit for the bridge"
fi
"$r/bin/velmora-puente" --help | grep -q -- '--permitir-consigna' || falla "the bridge's --help"
# Started for real, offscreen: still running when stopped after two seconds.
rc=0
QT_QPA_PLATFORM=offscreen timeout 2 "$r/bin/velmora" > "$tmp/salida" 2>&1 || rc=$?
[ "$rc" -eq 124 ] || { cat "$tmp/salida"; falla "the unpacked panel ended by itself ($rc)"; }

cat "$tmp/informe"
echo "$((1 - (fallos > 0))) passed, $((fallos > 0)) failed"
[ "$fallos" -eq 0 ]
