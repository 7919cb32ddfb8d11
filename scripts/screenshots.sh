#!/usr/bin/env bash
# Pictures of the real panel for the README, light and dark: lights, rooms,
# a room's scenes and the empty state asking for the link button.
# Needs Xvfb, trayer, xdotool and ImageMagick; writes docs/*.png.
set -euo pipefail
build=${1:-build/default}
app="$build/src/panel/lumora"
sim="$build/simulator/lumora-bridge-sim"
out=${2:-docs}
mkdir -p "$out"
work=$(mktemp -d)
pids=()
stop_all() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; pids=(); }
trap 'stop_all; rm -rf "$work"' EXIT INT TERM

display=
for n in $(seq 150 199); do
  if [[ ! -e /tmp/.X11-unix/X$n && ! -e /tmp/.X$n-lock ]]; then display=":$n"; break; fi
done
export DISPLAY=$display
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

desktop() {
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  # The tray in the panel's own grey, so the crop looks like a desktop.
  trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
    --SetDockType true --transparent true --alpha 0 --tint "$1" >/dev/null 2>&1 &
  pids+=($!)
  xsetroot -solid "$2" 2>/dev/null || true
  sleep 1
}
crop() { import -window root -crop 230x500+580+0 +repage "$out/$1.png"; echo "$out/$1.png"; }

for scheme in light dark; do
  if [[ $scheme == dark ]]; then tint=0x202022; root='#3a3d44'; else tint=0xe8e8e8; root='#9aa7b5'; fi
  export LUMORA_COLOR_SCHEME=$scheme XDG_CONFIG_HOME="$work/$scheme" XDG_CACHE_HOME="$work/cache"
  mkdir -p "$XDG_CONFIG_HOME/lumora-demo"
  echo '{"hasSeenWelcomeScreen": true, "showZones": true, "showScenes": true,
         "preferredWindowHeightLights": 460, "preferredWindowHeightRooms": 460}' \
    >"$XDG_CONFIG_HOME/lumora-demo/defaults.json"
  desktop "$tint" "$root"
  "$app" --demo >"$work/app.log" 2>&1 &
  pids+=($!)
  sleep 2.5
  xdotool mousemove 788 12 click 1; sleep 1
  crop "panel-lights-$scheme"
  xdotool mousemove 740 80 click 1; sleep 0.8
  crop "panel-rooms-$scheme"
  # The first room under the ROOMS header: its scene button.
  xdotool mousemove 770 367 click 1; sleep 0.8
  crop "panel-scenes-$scheme"
  stop_all; sleep 0.5

  # No user name yet and the link button not pressed: the empty state.
  desktop "$tint" "$root"
  coproc SIM { exec "$sim" --fixture demo --port 0 --link-button released; }
  pids+=($SIM_PID)
  read -r first <&"${SIM[0]}"
  address=${first##* }
  export LUMORA_CONFIG_DIR="$work/$scheme-empty"
  mkdir -p "$LUMORA_CONFIG_DIR"
  echo "{\"hasSeenWelcomeScreen\": true, \"bridgeIP\": \"$address\"}" >"$LUMORA_CONFIG_DIR/defaults.json"
  "$app" >"$work/app.log" 2>&1 &
  pids+=($!)
  sleep 3
  xdotool mousemove 788 12 click 1; sleep 1
  crop "panel-empty-$scheme"
  unset LUMORA_CONFIG_DIR
  stop_all; sleep 0.5
done
