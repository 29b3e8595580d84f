#!/usr/bin/env python3
"""A ramp on the real panel, timed at the controller's end of a pseudo-terminal.

This script is the controller: a sample every 1/RATE s, its set point reported every 10
samples. The panel runs `Rampa 80 50 s` from 30 (--programa --iniciar); the time each count
arrives is noted here. The first count is due 1 s into the ramp and 80 at 50 s, so 80 comes
49 s after 31.

    python3 bench/rampa.py build/src/velmora [RATE]
"""
import os, pty, select, subprocess, sys, tempfile, termios, time, tty

velmora = sys.argv[1]
tasa = float(sys.argv[2]) if len(sys.argv) > 2 else 50.0
maestro, esclavo = pty.openpty()
tty.setraw(esclavo)
nombre = os.ttyname(esclavo)
with tempfile.NamedTemporaryFile('w', suffix='.txt', delete=False) as f:
    f.write('Rampa 80 50 s\n')
    programa = f.name
env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
panel = subprocess.Popen([velmora, nombre, '--conectar', '--programa', programa, '--iniciar'],
                         env=env, stderr=subprocess.DEVNULL)
sp, valor, n, llegadas = 30, 30, 0, {}
siguiente = time.monotonic()
fin = siguiente + 70
while time.monotonic() < fin and 80 not in llegadas:
    espera = max(0.0, siguiente - time.monotonic())
    r, _, _ = select.select([maestro], [], [], espera)
    if r:
        ahora = time.monotonic()
        for b in os.read(maestro, 64):
            sp = b
            llegadas.setdefault(b, ahora)
        continue
    siguiente += 1 / tasa
    datos = bytes([255, sp]) if n % 10 == 0 else b''
    n += 1
    os.write(maestro, datos + bytes([sp]))
panel.terminate()
panel.wait()
os.unlink(programa)
cuentas = sorted(llegadas)
print('counts received:', len(cuentas), 'from', cuentas[0] if cuentas else None, 'to', cuentas[-1] if cuentas else None)
if 31 in llegadas and 80 in llegadas:
    d = llegadas[80] - llegadas[31]
    pasos = [llegadas[k + 1] - llegadas[k] for k in range(31, 80)]
    print(f'31 to 80: {d:.4f} s (due 49 s; off by {1000 * (d - 49):+.1f} ms; sample spacing {1000 / tasa:.1f} ms)')
    print(f'between counts: min {min(pasos):.4f} s, max {max(pasos):.4f} s')
