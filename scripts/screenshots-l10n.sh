#!/usr/bin/env bash
# Pictures of the real program in German and French and at twice the scale:
# the panel (rooms and zones) and the settings window's Connection pane.
# Needs Xvfb, trayer, xdotool and ImageMagick; writes docs/*.png.
#   scripts/screenshots-l10n.sh [BUILD_DIR] [OUT_DIR]
#   scripts/screenshots-l10n.sh BUILD_DIR OUT_DIR NAME LANG SCALE PANE_TITLE   (one set)
set -euo pipefail
build=${1:-build/default}
app="$build/src/panel/lumora"
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

# shoot NAME LANG SCALE [PANE_TITLE]: the panel's rooms and zones, and the
# settings window at its first pane, whose title is PANE_TITLE.
shoot() {
  local name=$1 lang=$2 scale=$3 title=$4
  px() { awk -v a="$1" -v s="$scale" 'BEGIN { printf "%d", a * s }'; }
  local width height tray
  width=$(px 800) height=$(px 600) tray=$(px 24)
  Xvfb "$display" -screen 0 "${width}x${height}x24" -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
  trayer --edge top --align right --widthtype pixel --width $((5 * tray)) --heighttype pixel \
    --height "$tray" --SetDockType true --transparent true --alpha 0 --tint 0xe8e8e8 \
    >/dev/null 2>&1 &
  pids+=($!)
  # A desktop colour behind the panel's rounded corners (ImageMagick sets it
  # where xsetroot is missing).
  xsetroot -solid '#9aa7b5' 2>/dev/null ||
    display -window root -size 8x8 xc:'#9aa7b5' 2>/dev/null || true
  sleep 1
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
  if [[ -z $title ]]; then
    stop_all
    sleep 0.5
    return
  fi
  # The menu's Settings entry, by its key.
  xdotool mousemove "$iconX" "$iconY" click 3
  sleep 1
  xdotool key s
  sleep 1.5
  local settings
  settings=$(xdotool search --onlyvisible --name "^$title\$" | head -1)
  if [[ -n $settings ]]; then
    import -window "$settings" "$out/prefs-connection-$name.png"
    echo "$out/prefs-connection-$name.png"
  else
    echo "no settings window titled \"$title\"" >&2
  fi
  stop_all
  sleep 0.5
}

case ${3:-all} in
  all)
    shoot de de_DE.UTF-8 1 Verbindung
    shoot fr fr_FR.UTF-8 1 Connexion
    shoot scale2 en_US.UTF-8 2 ""
    ;;
  *) shoot "$3" "$4" "$5" "${6:-}" ;;
esac
