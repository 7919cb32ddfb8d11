#!/usr/bin/env bash
# Pictures of the real program in German and French and at twice the scale:
# the panel (rooms and zones) and the settings window's Connection pane.
# Needs Xvfb, trayer, xdotool and ImageMagick; writes docs/*.png.
#   scripts/screenshots-l10n.sh [BUILD_DIR] [OUT_DIR]
#   scripts/screenshots-l10n.sh BUILD_DIR OUT_DIR panel NAME LANG SCALE
#   scripts/screenshots-l10n.sh BUILD_DIR OUT_DIR pane NAME LANG PANE_TITLE
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
[[ -n $display ]] || { echo "no free X display number" >&2; exit 1; }
export DISPLAY=$display
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-bus"
export XDG_RUNTIME_DIR="$work/run" XDG_CACHE_HOME="$work/cache" LUMORA_COLOR_SCHEME=light
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

desktop() {
  Xvfb "$display" -screen 0 "$1x24" -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  trayer --edge top --align right --widthtype pixel --width $((5 * $2)) --heighttype pixel \
    --height "$2" --SetDockType true --transparent true --alpha 0 --tint 0xe8e8e8 \
    >/dev/null 2>&1 &
  pids+=($!)
  # A desktop colour behind the panel's rounded corners (ImageMagick sets it
  # where xsetroot is missing).
  xsetroot -solid '#9aa7b5' 2>/dev/null ||
    display -window root -size 8x8 xc:'#9aa7b5' 2>/dev/null || true
  sleep 1
}

# panel NAME LANG SCALE: the panel's rooms and zones.
panel() {
  local name=$1 lang=$2 scale=$3
  px() { awk -v a="$1" -v s="$scale" 'BEGIN { printf "%d", a * s }'; }
  local width height tray
  width=$(px 800) height=$(px 600) tray=$(px 24)
  desktop "${width}x${height}" "$tray"
  export XDG_CONFIG_HOME="$work/$name"
  mkdir -p "$XDG_CONFIG_HOME/lumora-demo"
  echo '{"hasSeenWelcomeScreen": true, "showZones": true, "showScenes": true,
         "preferredWindowHeightLights": 460, "preferredWindowHeightRooms": 460}' \
    >"$XDG_CONFIG_HOME/lumora-demo/defaults.json"
  LANG=$lang LC_ALL='' LC_MESSAGES='' LANGUAGE='' QT_SCALE_FACTOR=$scale \
    "$app" --demo >"$work/app.log" 2>&1 &
  pids+=($!)
  sleep 3
  local iconX=$((width - tray / 2)) iconY=$((tray / 2))
  xdotool mousemove "$iconX" "$iconY" click 1
  sleep 1.2
  local panel X Y WIDTH HEIGHT SCREEN WINDOW
  panel=$(xdotool search --onlyvisible --name '^Lumora panel$' | head -1)
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  # The ROOMS tab, right of the middle under the title bar.
  xdotool mousemove $((X + $(px 150))) $((Y + $(px 52))) click 1
  sleep 1
  # The panel with a margin of desktop around it, as the tray shows it.
  local margin
  margin=$(px 10)
  import -window root -crop "$((WIDTH + 2 * margin))x$((Y + HEIGHT + margin))+$((X - margin))+0" \
    +repage "$out/panel-$name.png"
  echo "$out/panel-$name.png"
  xdotool key Escape
  sleep 0.8
  stop_all
  sleep 0.5
}

# pane NAME LANG TITLE: the Connection pane (titled TITLE) of a program whose
# bridge waits for its link button: the form, the bridge's answer, the hint.
pane() {
  local name=$1 lang=$2 title=$3
  desktop 800x600 24
  coproc SIM { exec "$sim" --fixture demo --port 0 --link-button released; }
  pids+=($SIM_PID)
  local first
  read -r first <&"${SIM[0]}"
  export XDG_CONFIG_HOME="$work/$name-pane"
  mkdir -p "$XDG_CONFIG_HOME/lumora"
  echo "{\"hasSeenWelcomeScreen\": true, \"bridgeIP\": \"${first##* }\"}" \
    >"$XDG_CONFIG_HOME/lumora/defaults.json"
  LANG=$lang LC_ALL='' LC_MESSAGES='' LANGUAGE='' "$app" >"$work/app.log" 2>&1 &
  pids+=($!)
  sleep 3
  # The menu's Settings entry, by its key.
  xdotool mousemove 788 12 click 3
  sleep 1
  xdotool key s
  sleep 1.5
  local window
  window=$(xdotool search --onlyvisible --name "^$title\$" | head -1)
  [[ -n $window ]] || { echo "no settings window titled \"$title\"" >&2; exit 1; }
  import -window "$window" "$out/prefs-connection-$name.png"
  echo "$out/prefs-connection-$name.png"
  stop_all
  sleep 0.5
}

case ${3:-all} in
  all)
    panel de de_DE.UTF-8 1
    panel fr fr_FR.UTF-8 1
    panel scale2 en_US.UTF-8 2
    pane de de_DE.UTF-8 Verbindung
    pane fr fr_FR.UTF-8 Connexion
    ;;
  panel) panel "$4" "$5" "$6" ;;
  pane) pane "$4" "$5" "$6" ;;
esac
