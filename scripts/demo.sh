#!/usr/bin/env bash
# `make demo`: the tray program with its simulated bridge. On a desktop it
# starts there. Without a display it runs on a private X server with a tray,
# opens the panel, tries a few controls and writes screenshots.
set -euo pipefail
build=${1:-build/default}
app="$build/src/panel/lumora"

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Starting lumora --demo: click the lamp in your tray. Quit from its menu (right click)."
  exec "$app" --demo
fi

out=${LUMORA_DEMO_SHOTS:-$build/demo-screenshots}
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

display=
for n in $(seq 90 140); do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
  --SetDockType true >/dev/null 2>&1 &
pids+=($!)
sleep 1

export XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus" \
  "$app" --demo >"$work/lumora.log" 2>&1 &
pids+=($!)
sleep 2.5

shot() { import -window root "$out/$1.png"; echo "  $out/$1.png — $2"; }
echo "No display here: Lumora runs on a private X server ($display) with a tray."
echo "Screenshots:"
shot 1-welcome "the first start"
xdotool mousemove 400 360 click 1   # "Let's go!"
sleep 1
shot 2-lights "the panel under the tray icon: every light"
xdotool mousemove 740 80 click 1    # ROOMS
sleep 0.8
shot 3-rooms "rooms and zones"
# Dim the first room by dragging its slider to the left.
xdotool mousemove 720 127 mousedown 1 mousemove 700 127 sleep 0.2 mousemove 680 127 mouseup 1
sleep 1
shot 4-dimmed "the first room dimmed"
xdotool mousemove 788 12 click 3
sleep 0.6
shot 5-menu "the tray menu: Darkness!, delayed off, help, quit"
xdotool key Escape
address=$(sed -n 's/^lumora: demo bridge at //p' "$work/lumora.log" | head -1)
echo "The simulated bridge answered at $address; its last requests:"
curl -s "http://$address/sim/log" | python3 -c '
import json, sys
for r in json.load(sys.stdin)[-4:]:
    print("  ", r["method"], r["path"], r["body"])'
