#!/usr/bin/env bash
# Load on the simulated bridge: starts lumora-bridge-sim on loopback with the
# demo home, pairs a user and drives GET /api/<user>/lights with wrk, first
# over 50 connections, then over one, each over plain HTTP and then over HTTPS
# (kept-alive connections, so one handshake each). Builds nothing.
#
#   bench/sim_load.sh BUILD_DIR [--seconds N] [--ctl]
#
# --ctl also times `lumora-ctl lights` against the same simulator with
# hyperfine (when it is installed).
#
# --hostile instead plays hostile clients against it, all on loopback and
# bounded in count and time: a body nested 100,000 deep, 100 bodies of 10 MiB
# and 100 of 1 MiB, a 64 MiB header and 200,000 headers, 300 and 1,000
# connections that send a request a line at a time, 2,000 that send nothing.
# It prints the replies, the resident memory (VmRSS) along the way and the
# time of ordinary GETs beside the slow and idle connections.
set -euo pipefail

usage() {
  echo "usage: $0 BUILD_DIR [--seconds N] [--ctl] [--hostile]" >&2
  exit 2
}

[[ $# -ge 1 ]] || usage
build=$1
shift
seconds=5
ctl=0
hostile=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --seconds) [[ $# -ge 2 ]] || usage; seconds=$2; shift 2 ;;
    --ctl) ctl=1; shift ;;
    --hostile) hostile=1; shift ;;
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
# The HTTPS line follows the first.
https_address=
for _ in $(seq 100); do
  https_address=$(sed -n 's/^listening on \(127\.0\.0\.1:[0-9]*\) (https)$/\1/p' "$work/sim.out")
  [[ -n $https_address ]] && break
  sleep 0.05
done

# Pair the way a client does: link button, then POST /api.
curl -sf -X POST -d '{"pressed":true}' "$base/sim/linkbutton" >/dev/null
reply=$(curl -sf -X POST -d '{"devicetype":"lumora#bench"}' "$base/api")
user=$(sed -n 's/.*"username":"\([^"]*\)".*/\1/p' <<<"$reply")
[[ -n $user ]] || { echo "pairing failed: $reply" >&2; exit 1; }
url=$base/api/$user/lights
echo "simulator at $address, user $user, reply $(curl -sf "$url" | wc -c) bytes"

if [[ $hostile -eq 1 ]]; then
  python3 - "${address%:*}" "${address##*:}" "$sim_pid" "$user" <<'PYTHON'
import os, socket, sys, time

host, port, pid, user = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]


def rss():
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS"):
                return f"{int(line.split()[1]) // 1024} MB"
    return "gone"


def exchange(data, timeout=30.0):
    """Sends `data` on a connection of its own; the reply until the server closes."""
    s = socket.create_connection((host, port), timeout=timeout)
    try:
        s.sendall(data)
    except OSError:
        pass  # the server may refuse before it has read everything
    reply = b""
    try:
        while chunk := s.recv(65536):
            reply += chunk
    except OSError:
        pass
    s.close()
    return reply


def request(method, path, body=b"", extra=b""):
    head = f"{method} {path} HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n"
    return exchange(head.encode() + f"Content-Length: {len(body)}\r\n".encode() + extra + b"\r\n" + body)


def status(reply):
    parts = reply.split(b" ", 2)
    return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0


def tally(replies):
    counts = {}
    for reply in replies:
        counts[status(reply)] = counts.get(status(reply), 0) + 1
    return ", ".join(f"{n} x {code or 'none'}" for code, n in sorted(counts.items()))


def ordinary_get():
    start = time.monotonic()
    try:
        ok = status(request("GET", f"/api/{user}/config")) == 200
    except OSError:
        ok = False
    return (time.monotonic() - start) * 1000, ok


print(f"memory at start: {rss()}")
deep = b'{"devicetype":' + b"[" * 100000 + b"]" * 100000 + b"}"
reply = request("POST", "/api", deep)
answer = reply.split(b"\r\n\r\n", 1)[-1][:80].decode(errors="replace")
print(f"deep body: status {status(reply)}, {answer}")

state = f"/api/{user}/lights/1/state"
tenMiB = b"x" * (10 << 20)
print(f"100 PUTs of 10 MiB: {tally(request('PUT', state, tenMiB) for _ in range(100))}; memory {rss()}")
oneMiB = b'{"on":true,"x":"' + b"y" * ((1 << 20) - 18) + b'"}'
print(f"100 PUTs of 1 MiB: {tally(request('PUT', state, oneMiB) for _ in range(100))}; memory {rss()}")
log = request("GET", "/sim/log")
print(f"request log: {len(log)} bytes; memory {rss()}")
request("DELETE", "/sim/log")
print(f"log cleared: memory {rss()}")

line = b"X-Big: " + b"a" * (64 << 20) + b"\r\n"
many = b"".join(b"X-H%d: v\r\n" % i for i in range(200000))
print(f"64 MiB header: status {status(request('GET', '/discovery', extra=line))}; "
      f"200,000 headers: status {status(request('GET', '/discovery', extra=many))}; memory {rss()}")

for slow_count in (300, 1000):
    slow = []
    for _ in range(slow_count):
        s = socket.create_connection((host, port))
        s.sendall(b"GET /discovery HTTP/1.1\r\nHost: x\r\n")
        slow.append(s)
    times = []
    for i in range(7):
        for s in slow:  # one more header line each, a request that never ends
            try:
                s.send(b"X-%d: y\r\n" % i)
            except OSError:
                pass
        times.append(ordinary_get())
        time.sleep(0.3)
    shown = " ".join(f"{ms:.1f}" for ms, _ in times)
    print(f"{slow_count} slow connections: GET ms {shown}; max {max(ms for ms, _ in times):.1f}, "
          f"{sum(ok for _, ok in times)}/7 answered; memory {rss()}")
    for s in slow:
        s.close()

idle = [socket.create_connection((host, port)) for _ in range(2000)]
first, ok = ordinary_get()
second, _ = ordinary_get()
print(f"2,000 idle connections: first GET {first:.1f} ms ({'answered' if ok else 'not answered'}), "
      f"second {second:.1f} ms; memory {rss()}")
for s in idle:
    s.close()
print(f"simulator {'still up' if os.path.exists(f'/proc/{pid}') else 'gone'}; memory {rss()}")
PYTHON
  exit
fi

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
  local label=$1 threads=$2 connections=$3 target=${4:-$url}
  wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$target" >"$work/$label.txt"
  summarise "$label" <"$work/$label.txt"
}

run "50 connections" 2 50
run "1 connection" 1 1
if [[ -n $https_address ]]; then
  # wrk checks no certificate; the handshakes are counted by the simulator.
  https_url=https://$https_address/api/$user/lights
  run "https 50 conn." 2 50 "$https_url"
  run "https 1 conn." 1 1 "$https_url"
  echo "https: $(curl -sf "$base/sim/stats" | sed -n 's/.*"https":\({[^}]*}\).*/\1/p')"
fi

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
