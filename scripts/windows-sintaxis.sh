#!/usr/bin/env bash
# Checks that every product source compiles for Windows (MinGW-w64, syntax only), so the
# Windows branches do not rot on a Linux machine. The compiler sees Qt's and QCustomPlot's
# headers copied to a folder of their own and its own Windows headers, never /usr/include.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cxx=x86_64-w64-mingw32-g++-posix
salida=build-windows
qt=$(qtpaths6 --query QT_INSTALL_HEADERS)
mkspecs=$(qtpaths6 --query QT_HOST_DATA)/mkspecs
version=$(sed -nE 's/^project\(velmora VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)

rm -rf "$salida/include"
mkdir -p "$salida/include/qt6" "$salida/include/qcustomplot" "$salida/include/mkspecs"
for m in QtCore QtGui QtWidgets QtSerialPort QtPrintSupport; do
  cp -r "$qt/$m" "$salida/include/qt6/"
done
cp "$(dpkg -L libqcustomplot-dev | grep '/qcustomplot\.h$')" "$salida/include/qcustomplot/"
cp -r /usr/include/eigen3 "$salida/include/" # header-only: the step response's fit
mkdir -p "$salida/include/mosquitto" # the MQTT client's interface (the library is Windows' own build)
cp /usr/include/mosquitto.h /usr/include/mqtt_protocol.h "$salida/include/mosquitto/"
cp -r "$mkspecs/win32-g++" "$mkspecs/common" "$salida/include/mkspecs/"

# What CMake gives a Qt 6 target on MinGW: the modules' macros, win32-g++'s own, and ours.
# Q_OS_WIN comes from the compiler's _WIN32.
banderas=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror=return-type
  -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_SERIALPORT_LIB -DQT_PRINTSUPPORT_LIB
  -DQT_NO_DEBUG -DUNICODE -D_UNICODE -DWIN32 -DMINGW_HAS_SECURE_API=1
  "-DVELMORA_VERSION=\"$version\""
  -Isrc -isystem "$salida/include/qt6" -isystem "$salida/include/qcustomplot"
  -isystem "$salida/include/eigen3" -isystem "$salida/include/mosquitto"
  -isystem "$salida/include/mkspecs/win32-g++")
for m in QtCore QtGui QtWidgets QtSerialPort QtPrintSupport; do
  banderas+=(-isystem "$salida/include/qt6/$m")
done

fallos=0
n=0
while IFS= read -r fuente; do
  n=$((n + 1))
  # -H lists every header opened: none may come from the Linux system's folders.
  if ! "$cxx" "${banderas[@]}" -H "$fuente" 2> "$salida/salida.txt"; then
    grep -v '^\.' "$salida/salida.txt" >&2
    echo "no compila para Windows: $fuente" >&2
    fallos=$((fallos + 1))
  elif grep -E '^\.+ /usr/include/' "$salida/salida.txt" >&2; then
    echo "usa cabeceras de Linux: $fuente" >&2
    fallos=$((fallos + 1))
  fi
done < <(find src -name '*.cpp' | sort)
echo "Windows (MinGW-w64, solo sintaxis): $((n - fallos)) de $n fuentes compilan"
[ "$fallos" -eq 0 ]
