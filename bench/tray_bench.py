#!/usr/bin/python3
"""Lumora's tray program against a bare Qt tray, on a private X server with
a tray host: resident memory after the panel opened once and closed, time
from exec to the first turn of the event loop, click to the panel's first
paint, and CPU time per refresh tick with the panel open and closed; then
the same program against a simulated bridge in a process of its own.

    bench/tray_bench.py [BUILD_DIR] [--runs N]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TICK = 3.5  # seconds between two refreshes


def mono_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC) * 1e3


def free_display():
    for n in range(200, 260):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return f":{n}"
    sys.exit("no free X display")


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_ms(pid):
    """CPU time of every thread, in nanosecond resolution (schedstat)."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e6


def wait_line(proc, pattern, limit=10):
    """Reads stderr lines until one matches; returns the match."""
    end = time.time() + limit
    while time.time() < end:
        line = proc.stderr.readline()
        if not line:
            time.sleep(0.01)
            continue
        m = re.search(pattern, line)
        if m:
            return m
    return None


def xdo(env, *args):
    subprocess.run(["xdotool", *args], env=env, check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def start(argv, env):
    t0 = mono_ms()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            text=True, bufsize=1)
    m = wait_line(proc, r"event loop running .* \(t=([0-9.]+)\)")
    return proc, (float(m.group(1)) - t0) if m else float("nan")


def median(xs):
    xs = sorted(x for x in xs if x == x)
    return xs[len(xs) // 2] if xs else float("nan")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/default")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--ticks", type=int, default=6)
    a = ap.parse_args()
    lumora = os.path.join(a.build, "src/panel/lumora")
    bare = os.path.join(a.build, "bench/tray/lumora-bare-tray")
    for tool in ("Xvfb", "trayer", "xdotool"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")

    work = tempfile.mkdtemp()
    display = free_display()
    env = dict(os.environ, DISPLAY=display, XDG_CONFIG_HOME=f"{work}/config",
               XDG_CACHE_HOME=f"{work}/cache", XDG_RUNTIME_DIR=f"{work}/run",
               DBUS_SESSION_BUS_ADDRESS=f"unix:path={work}/no-bus",
               DBUS_SYSTEM_BUS_ADDRESS=f"unix:path={work}/no-bus",
               LUMORA_TRACE_TIMES="1", QT_QPA_PLATFORM="xcb")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    os.makedirs(f"{work}/config/lumora-demo")
    with open(f"{work}/config/lumora-demo/defaults.json", "w") as f:
        f.write('{"hasSeenWelcomeScreen": true}')
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    tray = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                             "--width", "120", "--heighttype", "pixel", "--height", "24"],
                            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    icon = (1268, 12)
    results = {"bare": {"start": [], "rss": []}, "lumora": {"start": [], "rss": [], "paint": []}}
    cpu = {}
    try:
        for run in range(a.runs):
            p, ms = start([bare], env)
            time.sleep(1)
            results["bare"]["start"].append(ms)
            results["bare"]["rss"].append(rss_kb(p.pid))
            if run == a.runs - 1:
                c0 = cpu_ms(p.pid)
                time.sleep(TICK * a.ticks)
                cpu["bare"] = (cpu_ms(p.pid) - c0) / a.ticks
            p.terminate()
            p.wait()

            p, ms = start([lumora, "--demo"], env)
            results["lumora"]["start"].append(ms)
            time.sleep(1.5)
            t0 = mono_ms()
            xdo(env, "mousemove", str(icon[0]), str(icon[1]), "click", "1")
            m = wait_line(p, r"panel painted \(t=([0-9.]+)\)", 5)
            results["lumora"]["paint"].append(float(m.group(1)) - t0 if m else float("nan"))
            time.sleep(0.5)
            if run == a.runs - 1:
                c0 = cpu_ms(p.pid)
                time.sleep(TICK * a.ticks)
                cpu["open"] = (cpu_ms(p.pid) - c0) / a.ticks
            xdo(env, "mousemove", "300", "600", "click", "1")
            time.sleep(1)
            results["lumora"]["rss"].append(rss_kb(p.pid))
            if run == a.runs - 1:
                c0 = cpu_ms(p.pid)
                time.sleep(TICK * a.ticks)
                cpu["closed"] = (cpu_ms(p.pid) - c0) / a.ticks
            p.terminate()
            p.wait()

        # The same program against a bridge of its own process, as it runs
        # at home: the demo's figures above include its simulator serving.
        sim = subprocess.Popen([os.path.join(a.build, "simulator/lumora-bridge-sim"), "--port", "0"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            address = sim.stdout.readline().split()[-1]
            os.makedirs(f"{work}/config/lumora", exist_ok=True)
            with open(f"{work}/config/lumora/defaults.json", "w") as f:
                f.write('{"hasSeenWelcomeScreen": true, "bridgeIP": "%s", '
                        '"bridgeUser": "lumora-demo-user-00000000000000000000000"}' % address)
            p, _ = start([lumora], env)
            time.sleep(3)
            c0, s0 = cpu_ms(p.pid), cpu_ms(sim.pid)
            time.sleep(TICK * a.ticks)
            cpu["own"] = (cpu_ms(p.pid) - c0) / a.ticks
            cpu["sim"] = (cpu_ms(sim.pid) - s0) / a.ticks
            results["lumora"]["rss_own"] = rss_kb(p.pid)
            p.terminate()
            p.wait()
        finally:
            sim.terminate()
            sim.wait()
    finally:
        tray.terminate()
        xvfb.terminate()
        shutil.rmtree(work, ignore_errors=True)

    b, l = results["bare"], results["lumora"]
    rb, rl = median(b["rss"]), median(l["rss"])
    sb, sl = median(b["start"]), median(l["start"])
    print(f"runs: {a.runs} (medians)")
    print(f"resident memory   bare tray {rb / 1024:6.1f} MiB   lumora {rl / 1024:6.1f} MiB"
          f"   ratio {rl / rb:.2f} (goal <= 1.2)")
    print(f"exec to loop      bare tray {sb:6.1f} ms    lumora {sl:6.1f} ms"
          f"    ratio {sl / sb:.2f} (goal <= 1.3)")
    print(f"click to paint    lumora {median(l['paint']):.1f} ms (goal <= 50; includes starting xdotool)")
    print(f"CPU per refresh   panel open {cpu.get('open', float('nan')):.2f} ms"
          f"   closed {cpu.get('closed', float('nan')):.2f} ms"
          f"   (bare tray idle {cpu.get('bare', float('nan')):.2f} ms per {TICK} s; goal <= 1)")
    print(f"against a bridge  lumora {cpu.get('own', float('nan')):.2f} ms per refresh"
          f" (the bridge process {cpu.get('sim', float('nan')):.2f} ms),"
          f" {l.get('rss_own', 0) / 1024:.1f} MiB before the panel first opens")


if __name__ == "__main__":
    main()
