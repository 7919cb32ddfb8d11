#!/usr/bin/python3
"""The tray program on a real Wayland desktop: sway on its headless back-end,
waybar's tray, the program through XWayland, all on a private session bus.

The host's Activate(x, y) for the icon at the top right must open the panel
under the bar, centred on x within the screen; ContextMenu(x, y) opens the
menu there. sway will not run as root: as root the desktop runs as `nobody`
in a runtime folder made for it.

    sway_tray_test.py LUMORA_BINARY [SCREENSHOT.png]

Exits 77 (skipped) when sway, waybar, Xwayland, setpriv or xdotool is missing.
"""

import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
WIDTH, HEIGHT, BAR = 1280, 720, 24
PANEL = "Lumora panel"
MARGIN = 5


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


def poll(what, check, limit=10.0, interval=0.05):
    """check() until it gives something true; fails the test after `limit` s."""
    end = time.monotonic() + limit
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(interval)


class Desktop:
    def __init__(self, binary):
        self.children = []
        self.dir = tempfile.mkdtemp(prefix="lumora-sway-")
        os.chmod(self.dir, 0o755)
        self.runtime = os.path.join(self.dir, "rt")
        os.mkdir(self.runtime, 0o700)
        self.as_user = []
        if os.getuid() == 0:
            user = pwd.getpwnam("nobody")
            os.chown(self.runtime, user.pw_uid, user.pw_gid)
            self.as_user = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}",
                            "--clear-groups"]
        # A copy the desktop's user can run, wherever the build tree is.
        self.binary = os.path.join(self.dir, "lumora")
        shutil.copy(binary, self.binary)
        os.chmod(self.binary, 0o755)
        self.env = {
            "PATH": "/usr/bin:/bin",
            "HOME": self.runtime,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.runtime, "config"),
            "WLR_BACKENDS": "headless",
            "WLR_LIBINPUT_NO_DEVICES": "1",
            "WLR_RENDERER": "pixman",
            "LANG": "C.UTF-8",
        }

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o644)
        return path

    def spawn(self, name, argv, env=None):
        log = open(os.path.join(self.dir, name + ".log"), "w")
        child = subprocess.Popen(
            self.as_user + ["env", "-i"] + [f"{k}={v}" for k, v in {**self.env, **(env or {})}.items()]
            + argv,
            stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        self.children.append(child)
        return child

    def run(self, argv, env=None):
        full = {**self.env, **(env or {})}
        return subprocess.run(
            self.as_user + ["env", "-i"] + [f"{k}={v}" for k, v in full.items()] + argv,
            capture_output=True, text=True, timeout=10)

    def log(self, name):
        try:
            with open(os.path.join(self.dir, name + ".log")) as f:
                return f.read()
        except OSError:
            return ""

    def close(self):
        for child in reversed(self.children):
            try:
                os.killpg(child.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for child in reversed(self.children):
            try:
                child.wait(timeout=3)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    binary = sys.argv[1]
    screenshot = sys.argv[2] if len(sys.argv) > 2 else ""
    needed = ["sway", "swaymsg", "waybar", "Xwayland", "setpriv", "dbus-run-session",
              "dbus-send", "xdotool"]
    missing = [p for p in needed if not shutil.which(p)]
    if missing:
        skip("missing " + ", ".join(missing))

    d = Desktop(binary)
    try:
        test(d, screenshot)
    except AssertionError as e:
        print(f"FAIL: {e}")
        for name in ("sway", "waybar", "lumora"):
            print(f"--- {name}\n{d.log(name)[-3000:]}")
        return 1
    finally:
        d.close()
    print("PASS")
    return 0


def test(d, screenshot):
    rt = d.runtime
    conf = d.write("sway.conf", f"xwayland enable\noutput HEADLESS-1 resolution {WIDTH}x{HEIGHT}\n")
    bar = d.write("waybar.json",
                  '{"layer": "top", "position": "top", "height": %d, "modules-right": ["tray"],'
                  ' "tray": {"icon-size": 16, "spacing": 4}}' % BAR)
    # The bus's address comes back through a file the session's user writes.
    d.spawn("sway", ["dbus-run-session", "--", "sh", "-c",
                     f'echo "$DBUS_SESSION_BUS_ADDRESS" > {rt}/bus && exec sway -c {conf}'])
    sock = poll("sway's socket", lambda: next(
        (os.path.join(rt, f) for f in os.listdir(rt) if f.startswith("sway-ipc.")), None))
    bus = poll("the session bus", lambda: open(f"{rt}/bus").read().strip()
               if os.path.exists(f"{rt}/bus") else None)
    d.env.update({"SWAYSOCK": sock, "DBUS_SESSION_BUS_ADDRESS": bus,
                  "WAYLAND_DISPLAY": "wayland-1", "XDG_SESSION_TYPE": "wayland"})
    poll("sway answering", lambda: d.run(["swaymsg", "-t", "get_version"]).returncode == 0)
    # XWayland's display, as sway hands it to the programs it starts.
    d.run(["swaymsg", "exec", f"echo $DISPLAY > {rt}/display"])
    display = poll("the X display", lambda: open(f"{rt}/display").read().strip()
                   if os.path.exists(f"{rt}/display") else None)
    d.env["DISPLAY"] = display

    d.spawn("waybar", ["waybar", "-c", bar])

    def owner(name):
        r = d.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                   "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                   f"string:{name}"])
        return "boolean true" in r.stdout

    poll("waybar's watcher", lambda: owner("org.kde.StatusNotifierWatcher"))

    profile = os.path.join(rt, "config", "lumora-demo")
    d.run(["mkdir", "-p", profile])
    d.run(["sh", "-c", f"echo '{{\"hasSeenWelcomeScreen\": true}}' > {profile}/defaults.json"])
    # The platform is left to the program: on a Wayland session it takes XWayland.
    d.spawn("lumora", [d.binary, "--demo"])
    poll("the platform choice", lambda: "running through XWayland" in d.log("lumora"))

    def registered():
        r = d.run(["dbus-send", "--session", "--print-reply",
                   "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                   "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher",
                   "string:RegisteredStatusNotifierItems"])
        for word in r.stdout.split('"'):
            if word.startswith("org.kde.StatusNotifierItem-"):
                return word
        return None

    item = poll("the item registered with waybar", registered)
    service, _, path = item.partition("/")
    path = "/" + path if path else "/StatusNotifierItem"

    def call(method, x, y):
        r = d.run(["dbus-send", "--session", "--print-reply", f"--dest={service}", path,
                   f"org.kde.StatusNotifierItem.{method}", f"int32:{x}", f"int32:{y}"])
        assert r.returncode == 0, r.stderr

    def windows():
        """Visible X windows of the program: (name, x, y, width, height)."""
        r = d.run(["xdotool", "search", "--onlyvisible", "--class", "lumora"])
        out = []
        for wid in r.stdout.split():
            name = d.run(["xdotool", "getwindowname", wid]).stdout.strip()
            geo = d.run(["xdotool", "getwindowgeometry", "--shell", wid]).stdout
            v = dict(line.split("=", 1) for line in geo.split() if "=" in line)
            if {"X", "Y", "WIDTH", "HEIGHT"} <= v.keys():
                out.append((name, int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])))
        return out

    # The bar's far edge, from where sway puts the workspace.
    tree = d.run(["swaymsg", "-t", "get_workspaces", "-r"]).stdout
    assert f'"y": {BAR}' in tree, f"the bar is not {BAR} px: {tree}"

    bare = 0
    if screenshot and shutil.which("grim"):
        d.run(["grim", os.path.join(rt, "bare.png")])
        bare = os.path.getsize(os.path.join(rt, "bare.png"))

    # Where waybar's click on the icon at the right end lands.
    x, y = WIDTH - 18, BAR // 2
    call("Activate", x, y)

    def panel():
        for name, *rect in windows():
            if name.startswith(PANEL) and rect[1] >= BAR:
                return rect
        return None

    px, py, pw, ph = poll("the panel under the bar", panel)
    centre = px + pw / 2
    expected = min(max(x, pw / 2 + MARGIN), WIDTH - pw / 2 - MARGIN)
    assert BAR <= py <= BAR + 10, f"top {py}, bar {BAR}"
    assert abs(centre - expected) <= 30, f"centre {centre}, x {x} clamped {expected}"
    assert px + pw <= WIDTH and px >= 0, (px, pw)
    print(f"panel at {px},{py} {pw}x{ph} for Activate({x}, {y}) under a {BAR} px bar")
    if screenshot and shutil.which("grim"):
        # Taken again until the panel's rows are drawn: a picture with them
        # packs far larger than the bare desktop.
        shot = os.path.join(rt, "shot.png")

        def drawn():
            d.run(["grim", shot])
            return os.path.exists(shot) and os.path.getsize(shot) > bare + 20000

        poll("the panel drawn", drawn, limit=5, interval=0.2)
        shutil.copy(shot, screenshot)

    # Activated again: closed; the right click's menu at the same bar.
    call("Activate", x, y)
    poll("the panel closed", lambda: panel() is None)
    call("ContextMenu", x, y)

    def menu():
        for name, *rect in windows():
            if not name.startswith(PANEL) and rect[2] > 50 and rect[3] > 50:
                return rect
        return None

    mx, my, mw, mh = poll("the menu", menu)
    assert BAR <= my <= BAR + 10, f"menu top {my}"
    assert mx <= x <= mx + mw + 30 and mx + mw <= WIDTH, f"menu {mx}+{mw} for x {x}"
    print(f"menu at {mx},{my} {mw}x{mh}")


if __name__ == "__main__":
    sys.exit(main())
