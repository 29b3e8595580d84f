# Shared by the scripts that run the panel on the simulator; sourced, not run.
# Gives a temporary folder $tmp (removed at exit, with every background job), and:
#   simulador OPTIONS...   starts the simulator on $tmp/puerto and waits for its link
#   panel OPTIONS...       runs bench/panel_medido on that port under Xvfb
#   escritorio             starts an X server with a window manager for what follows
#   panel_escritorio OPTS  runs bench/panel_medido on that port, on that desktop
#   en_orden FILE          how many log records hold the flood's values i mod 255 in order

tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$tmp"' EXIT

simulador() {
  ./build/tools/velmora-simulador --enlace "$tmp/puerto" "$@" > /dev/null 2>&1 &
  for _ in $(seq 50); do [ -e "$tmp/puerto" ] && return 0; sleep 0.1; done
  echo "el simulador no arrancó" >&2
  return 1
}

# An X server with a window manager, for every panel run after it (as a desktop has).
escritorio() {
  local n
  for n in $(seq 90 130); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp > /dev/null 2>&1 &
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
  openbox > /dev/null 2>&1 &
  sleep 1
}

# The window on that desktop.
panel_escritorio() {
  ./build/bench/panel_medido --puerto "$tmp/puerto" "$@" 2>/dev/null
}

panel() {
  xvfb-run -a -s '-screen 0 1280x800x24' ./build/bench/panel_medido --puerto "$tmp/puerto" \
    "$@" 2>/dev/null
}

en_orden() {
  awk -F'\t' '{ if (($3 + 0) == (NR - 1) % 255) ok++ } END { print ok + 0 }' "$1"
}
