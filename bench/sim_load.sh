#!/usr/bin/env bash
# Load on the simulated bridge: starts lumora-bridge-sim on loopback with the
# demo home, pairs a user and drives GET /api/<user>/lights with wrk, first
# over 50 connections, then over one. Builds nothing.
#
#   bench/sim_load.sh BUILD_DIR [--seconds N] [--ctl]
#
# --ctl also times `lumora-ctl lights` against the same simulator with
# hyperfine (when it is installed).
set -euo pipefail

usage() {
  echo "usage: $0 BUILD_DIR [--seconds N] [--ctl]" >&2
  exit 2
}

[[ $# -ge 1 ]] || usage
build=$1
shift
seconds=5
ctl=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --seconds) [[ $# -ge 2 ]] || usage; seconds=$2; shift 2 ;;
    --ctl) ctl=1; shift ;;
    *) usage ;;
  esac
done

sim=$build/simulator/lumora-bridge-sim
[[ -x $sim ]] || { echo "no simulator at $sim (build first)" >&2; exit 1; }
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  [[ -n ${KEEP_WRK_OUTPUT:-} ]] && cat "$work"/*.txt >&2
  rm -rf "$work"
}
trap cleanup EXIT

# Port 0: the simulator takes a free port and names it on its first line.
"$sim" --port 0 --bind 127.0.0.1 --fixture demo >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
address=
for _ in $(seq 100); do
  address=$(sed -n 's/^listening on \(127\.0\.0\.1:[0-9]*\)$/\1/p' "$work/sim.out")
  [[ -n $address ]] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
[[ -n $address ]] || { echo "the simulator did not start:" >&2; cat "$work/sim.err" >&2; exit 1; }
base=http://$address

# Pair the way a client does: link button, then POST /api.
curl -sf -X POST -d '{"pressed":true}' "$base/sim/linkbutton" >/dev/null
reply=$(curl -sf -X POST -d '{"devicetype":"lumora#bench"}' "$base/api")
user=$(sed -n 's/.*"username":"\([^"]*\)".*/\1/p' <<<"$reply")
[[ -n $user ]] || { echo "pairing failed: $reply" >&2; exit 1; }
url=$base/api/$user/lights
echo "simulator at $address, user $user, reply $(curl -sf "$url" | wc -c) bytes"

# Prints one line from wrk's report: req/s, mean, p99, max, time-outs.
summarise() {
  awk -v label="$1" '
    /^ *Latency / && !lat { mean = $2; max = $4; lat = 1 }
    /^ *99%/ { p99 = $2 }
    /Requests\/sec:/ { rps = $2 }
    # "Socket errors: connect C, read R, write W, timeout T"
    /Socket errors:/ { errors = $4 + $6 + $8; timeouts = $10 + 0 }
    /Non-2xx/ { non2xx = $NF }
    END {
      printf "%-16s %10s req/s  mean %-9s p99 %-9s max %-9s timeouts %d  errors %d  non-2xx %d\n",
             label, rps, mean, p99, max, timeouts, errors, non2xx
    }'
}

run() {
  local label=$1 threads=$2 connections=$3
  wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$url" >"$work/$label.txt"
  summarise "$label" <"$work/$label.txt"
}

run "50 connections" 2 50
run "1 connection" 1 1

if [[ $ctl -eq 1 ]]; then
  ctl_bin=$build/src/ctl/lumora-ctl
  if command -v hyperfine >/dev/null && [[ -x $ctl_bin ]]; then
    # A settings directory of its own: the tool must not touch the user's.
    HOME=$work XDG_CONFIG_HOME=$work/config hyperfine -N --warmup 5 --runs 100 \
      "$ctl_bin --bridge $address --user $user lights"
  else
    echo "skipping lumora-ctl: hyperfine or $ctl_bin missing" >&2
  fi
fi
