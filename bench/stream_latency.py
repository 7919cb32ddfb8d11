#!/usr/bin/env python3
"""Event stream figures for the simulated bridge, all on loopback.

  bench/stream_latency.py BUILD_DIR [--changes N] [--wrk SECONDS [--rounds R]]

Starts lumora-bridge-sim with the demo home, opens one event stream over
HTTPS and makes N changes (default 200) with PUTs over plain HTTP on a
kept-alive connection, timing each from just before its PUT is sent to the
arrival of its event at the stream client: p50, p95 and max. With --wrk it
then runs `wrk -t2 -c50` on /api/<user>/lights for that many seconds with no
stream attached, and again with 8 idle streams attached, R times in turn,
and prints the rates and p99s. Builds nothing; stops the simulator it started.
"""
import argparse
import http.client
import json
import os
import queue
import re
import socket
import ssl
import subprocess
import sys
import threading
import time

USER = "lumora-demo-user-00000000000000000000000"


def start_simulator(build_dir):
    binary = os.path.join(build_dir, "simulator", "lumora-bridge-sim")
    proc = subprocess.Popen([binary, "--bind", "127.0.0.1"], stdout=subprocess.PIPE, text=True)
    plain = int(re.search(r":(\d+)$", proc.stdout.readline().strip()).group(1))
    secure = int(re.search(r":(\d+) \(https\)$", proc.stdout.readline().strip()).group(1))
    proc.stdout.readline()  # the fingerprint
    return proc, plain, secure


def open_stream(port):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    sock = context.wrap_socket(socket.create_connection(("127.0.0.1", port)))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    sock.sendall(("GET /eventstream/clip/v2 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  f"hue-application-key: {USER}\r\nAccept: text/event-stream\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += sock.recv(4096)
    if not head.startswith(b"HTTP/1.1 200"):
        sys.exit("stream refused: " + head.split(b"\r\n")[0].decode())
    return sock, head.split(b"\r\n\r\n", 1)[1]


def read_events(sock, rest, events):
    """Puts (arrival time, data) for each event; chunks are not undone, as
    no event line contains CRLF."""
    buffer = rest
    while True:
        try:
            piece = sock.recv(65536)
        except OSError:
            return
        now = time.perf_counter()
        if not piece:
            return
        buffer += piece
        while b"\n\n" in buffer:
            block, buffer = buffer.split(b"\n\n", 1)
            for line in block.split(b"\n"):
                if line.startswith(b"data: "):
                    events.put((now, json.loads(line[6:])))


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def measure_latency(plain, secure, changes):
    sock, rest = open_stream(secure)
    events = queue.Queue()
    threading.Thread(target=read_events, args=(sock, rest, events), daemon=True).start()
    api = http.client.HTTPConnection("127.0.0.1", plain)
    latencies, replies = [], []
    for i in range(changes):
        bri = 1 + (i % 2) * 200 + (i % 50)  # never the value before
        body = json.dumps({"bri": bri})
        start = time.perf_counter()
        api.request("PUT", f"/api/{USER}/lights/1/state", body)
        api.getresponse().read()
        replied = time.perf_counter()
        arrived, data = events.get(timeout=5)
        item = data[0]["data"][0]
        assert item["id_v1"] == "/lights/1", item
        latencies.append((arrived - start) * 1000)
        replies.append((replied - start) * 1000)
    sock.shutdown(socket.SHUT_RDWR)
    sock.close()
    print(f"{changes} changes, PUT to event at the stream client: "
          f"p50 {percentile(latencies, 50):.3f} ms, p95 {percentile(latencies, 95):.3f} ms, "
          f"max {max(latencies):.3f} ms (PUT reply p50 {percentile(replies, 50):.3f} ms)")


def wrk_rate(plain, seconds):
    out = subprocess.run(["wrk", "-t2", "-c50", f"-d{seconds}s", "--latency",
                          f"http://127.0.0.1:{plain}/api/{USER}/lights"],
                         capture_output=True, text=True, timeout=seconds + 30).stdout
    rate = re.search(r"Requests/sec:\s+([\d.]+)", out).group(1)
    p99 = re.search(r"^\s+99%\s+(\S+)", out, re.MULTILINE).group(1)
    return rate, p99


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--changes", type=int, default=200)
    parser.add_argument("--wrk", type=int, default=0)
    parser.add_argument("--rounds", type=int, default=1)
    args = parser.parse_args()
    proc, plain, secure = start_simulator(args.build_dir)
    try:
        measure_latency(plain, secure, args.changes)
        # Alternately, so that a busy neighbour on the machine weighs on both.
        for _ in range(args.rounds if args.wrk else 0):
            rate, p99 = wrk_rate(plain, args.wrk)
            print(f"wrk, no stream attached: {rate} req/s, p99 {p99}")
            streams = [open_stream(secure)[0] for _ in range(8)]
            rate, p99 = wrk_rate(plain, args.wrk)
            print(f"wrk, 8 idle streams attached: {rate} req/s, p99 {p99}")
            for sock in streams:
                sock.shutdown(socket.SHUT_RDWR)
                sock.close()
    finally:
        proc.terminate()
        proc.wait(timeout=10)


if __name__ == "__main__":
    main()
