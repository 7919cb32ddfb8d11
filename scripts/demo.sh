#!/usr/bin/env bash
# Starts the simulated bridge with the demo home and shows how to talk to it.
# The tray program will take this place; until then the demo is the bridge
# itself plus lumora-ctl.
set -euo pipefail
build=${1:-build/default}
sim="$build/simulator/lumora-bridge-sim"
ctl="$build/src/ctl/lumora-ctl"
user=lumora-demo-user-00000000000000000000000

coproc SIM { exec "$sim" --fixture demo --port 0 --link-button released; }
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT INT TERM
read -r first <&"${SIM[0]}"
address=${first##* }
cat <<TEXT
The simulated bridge with the demo home listens on $address.

Try, in another terminal:
  $ctl --bridge $address --user $user rooms
  $ctl --bridge $address --user $user bri Kitchen 128
  curl http://$address/api/$user/lights
  curl -X POST -d '{"pressed":true}' http://$address/sim/linkbutton   # then pair:
  LUMORA_CONFIG_DIR=\$(mktemp -d) $ctl pair $address

Press Ctrl+C to stop it.
TEXT
wait "$SIM_PID"
