#!/usr/bin/python3
"""The tray program as a screen reader sees it, on a private desktop.

Starts an X server, a session bus and the accessibility bus of its own, runs
`lumora --demo` with accessibility on, opens the panel with its global
shortcut and reads the panel's tree over the accessibility bus: every control
needs a name, the rows and their controls have the roles and names they are
announced by. Then by keyboard alone: Tab to the Kitchen slider, three Right
presses reach the simulated bridge as three steps paced by the queue, and
Escape closes the panel.

Usage: panel_atspi_test.py LUMORA_BINARY. Exits 77 (skipped) when a program
it needs is missing or the accessibility bus does not come up. Every process
it starts carries a token in its environment; all of them are ended at the
end, those that left their process group included.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request
import uuid

SKIP = 77
TOKEN_VAR = "LUMORA_ATSPI_TEST_TOKEN"
TOKEN = f"{os.getpid()}-{uuid.uuid4().hex}"  # the owner's pid, and this run
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# control-option-K in the stored form of a recorded shortcut.
PANEL_SHORTCUT = {"carbonKeyCode": 40, "carbonModifiers": 6144}
EVENTS = ("object:property-change:accessible-value", "object:value-changed",
          "object:state-changed:checked", "object:property-change:accessible-name")

failures = []
children = []


def fail(message):
    failures.append(message)
    print("FAIL:", message, flush=True)


def skip(message):
    print("SKIP:", message, flush=True)
    sys.exit(SKIP)


def spawn(argv, env, **kwargs):
    p = subprocess.Popen(argv, env=env, start_new_session=True, **kwargs)
    children.append(p)
    return p


def tokens():
    """Every process carrying a run's token, with the token."""
    found = {}
    prefix = f"{TOKEN_VAR}=".encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                for entry in f.read().split(b"\0"):
                    if entry.startswith(prefix):
                        found[int(pid)] = entry[len(prefix):].decode()
        except OSError:
            pass
    return found


def own_processes(token=None):
    """Processes carrying this run's token, whoever their parent is now."""
    token = token or TOKEN
    return [pid for pid, t in tokens().items() if t == token]


def orphaned_tokens():
    """Tokens of earlier runs that were killed before they could clean up."""
    left = set()
    for pid, token in tokens().items():
        owner = int(token.split("-", 1)[0])
        try:
            with open(f"/proc/{owner}/environ", "rb") as f:
                alive = f"{TOKEN_VAR}=".encode() not in f.read()
            with open(f"/proc/{owner}/cmdline", "rb") as f:
                alive = alive and b"panel_atspi_test" in f.read()
        except OSError:
            alive = False
        if not alive:
            left.add(token)
    return left


def parent_of(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, ValueError, IndexError):
        return None


def depth_of(pid, mine):
    depth = 0
    while pid in mine and depth < 20:
        pid = parent_of(pid)
        depth += 1
    return depth


def stop_everything(token=None, first=()):
    """One at a time, `first` first and then the deepest, so that each is
    reaped by its own parent: a service whose bus went before it would be
    left a zombie, and a bus left alive would start it again."""
    def end(pid):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline and pid in own_processes(token):
            for p in children:
                p.poll()
            time.sleep(0.02)
        if pid in own_processes(token):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    for pid in first:
        end(pid)
    for _ in range(50):
        for p in children:
            p.poll()
        procs = set(own_processes(token))
        if not procs:
            return
        end(max(procs, key=lambda pid: depth_of(pid, procs)))
    print("WARNING: processes left:", own_processes(token), flush=True)


def read_line(fd, limit):
    end = time.monotonic() + limit
    data = b""
    os.set_blocking(fd, False)
    while time.monotonic() < end and not data.endswith(b"\n"):
        try:
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            data += chunk
        except BlockingIOError:
            time.sleep(0.02)
    return data.decode().strip()


def http(address, path, method="GET", body=None):
    req = urllib.request.Request(f"http://{address}{path}", method=method,
                                 data=None if body is None else json.dumps(body).encode())
    with urllib.request.urlopen(req, timeout=3) as r:
        text = r.read().decode()
    return json.loads(text) if text else None


def wait_for(what, predicate, limit=10.0, pump=None):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            value = predicate()
        except Exception:
            value = None  # an element went while being read; look again
        if value:
            return value
        if pump:
            pump()
        time.sleep(0.05)
    return None


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    lumora = sys.argv[1]
    for tool in ("Xvfb", "dbus-daemon", "dbus-send", "xdotool"):
        if not shutil.which(tool):
            skip(f"{tool} is not installed")
    if not os.access(LAUNCHER, os.X_OK):
        skip("at-spi2-core is not installed (no at-spi-bus-launcher)")
    try:
        import gi  # noqa: F401
    except ImportError:
        skip("python3-gi is not installed")

    # A run killed outright left its desktop behind: end it now.
    for token in orphaned_tokens():
        stop_everything(token)

    def terminated(signum, frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, terminated)
    signal.signal(signal.SIGINT, terminated)

    root = tempfile.mkdtemp(prefix="lumora-atspi-")
    try:
        return run(lumora, root)
    finally:
        # The program first: it would start the registry again.
        stop_everything(first=[p.pid for p in children[3:]])
        shutil.rmtree(root, ignore_errors=True)


def run(lumora, root):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("DBUS_", "XDG_", "AT_SPI", "QT_", "WAYLAND", "GTK_"))
           and k not in ("DISPLAY", "XAUTHORITY", "SESSION_MANAGER", "DESKTOP_SESSION")}
    for d in ("config", "cache", "data", "runtime"):
        os.makedirs(os.path.join(root, d), mode=0o700)
    env.update({
        TOKEN_VAR: TOKEN,
        "XDG_CONFIG_HOME": os.path.join(root, "config"),
        "XDG_CACHE_HOME": os.path.join(root, "cache"),
        "XDG_DATA_HOME": os.path.join(root, "data"),
        "XDG_RUNTIME_DIR": os.path.join(root, "runtime"),
        # Nobody listens there: nothing reaches the machine's system bus.
        "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + os.path.join(root, "no-bus"),
        # No settings daemon to be activated on the private bus.
        "GSETTINGS_BACKEND": "memory",
        "NO_AT_BRIDGE": "0",
    })

    # The X server.
    r, w = os.pipe()
    spawn(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           "-noreset"], env, pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    display = read_line(r, 10)
    os.close(r)
    if not display:
        skip("Xvfb did not start")
    env["DISPLAY"] = ":" + display

    # The session bus.
    config = os.path.join(root, "session.conf")
    with open(config, "w") as f:
        f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={root}/session-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
""")
    r, w = os.pipe()
    spawn(["dbus-daemon", f"--config-file={config}", "--nofork", "--nopidfile",
           f"--print-address={w}"], env, pass_fds=(w,), stderr=subprocess.DEVNULL)
    os.close(w)
    session = read_line(r, 10)
    os.close(r)
    if not session:
        skip("the session bus did not start")
    env["DBUS_SESSION_BUS_ADDRESS"] = session

    # The accessibility bus, and its address as clients ask for it.
    # Without the display: the bus address then travels only over the session
    # bus, the way Qt takes it up (one it finds on the X root window at start
    # it connects to without ever publishing its tree).
    spawn([LAUNCHER, "--launch-immediately", "--a11y=1"],
          {k: v for k, v in env.items() if k != "DISPLAY"}, stderr=subprocess.DEVNULL)

    def bus_address():
        out = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                              "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                             env=env, capture_output=True, text=True, timeout=5)
        for line in out.stdout.splitlines():
            line = line.strip()
            if line.startswith("string "):
                return line.split('"')[1]
        return None

    a11y = wait_for("the accessibility bus", bus_address, 10)
    if not a11y:
        skip("the accessibility bus did not start")
    env["AT_SPI_BUS_ADDRESS"] = a11y
    os.environ.update({k: env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                           "AT_SPI_BUS_ADDRESS", "GSETTINGS_BACKEND")})
    try:
        import pyatspi
        from gi.repository import GLib
    except ImportError:
        skip("python3-pyatspi is not installed")
    # The registry daemon answers on the accessibility bus.
    if not wait_for("the registry", lambda: pyatspi.Registry.getDesktop(0) is not None, 10):
        skip("the accessibility registry did not answer")

    # A profile that has seen the welcome, lists rooms without zones and has
    # the panel's shortcut recorded.
    profile = os.path.join(root, "config", "lumora-demo")
    os.makedirs(profile)
    with open(os.path.join(profile, "defaults.json"), "w") as f:
        json.dump({
            "hasSeenWelcomeScreen": True, "showZones": False,
            "preferredWindowHeightRooms": 520, "preferredWindowHeightLights": 520,
            "KeyboardShortcuts_togglePanel": json.dumps(PANEL_SHORTCUT),
        }, f)

    # English, whatever this machine speaks: the names below are checked.
    app_env = dict(env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   LANG="C.UTF-8", LC_ALL="C.UTF-8")
    app_env.pop("LANGUAGE", None)
    # The program asks the session bus, as on a desktop; an address handed
    # to it directly it would connect to without ever publishing its tree.
    del app_env["AT_SPI_BUS_ADDRESS"]
    log_path = os.path.join(root, "lumora.log")
    log = open(log_path, "wb")
    proc = spawn([lumora, "--demo"], app_env, stdout=subprocess.PIPE, stderr=log)

    def app_log():
        with open(log_path, errors="replace") as f:
            return f.read()
    line = read_line(proc.stdout.fileno(), 15)
    prefix = "lumora: demo bridge at "
    if not line.startswith(prefix):
        fail(f"the demo did not start: {line!r}")
        return 1
    bridge = line[len(prefix):].splitlines()[0].strip()
    # The demo writes its bridge's user name into its profile before it says
    # where the bridge is.
    with open(os.path.join(profile, "defaults.json")) as f:
        user = json.load(f)["bridgeUser"]

    # The kitchen at 100, so three steps up stay below the top.
    kitchen_group = next(gid for gid, g in http(bridge, f"/api/{user}/groups").items()
                         if g["name"] == "Kitchen")
    http(bridge, f"/api/{user}/groups/{kitchen_group}/action", "PUT", {"bri": 100})

    def pump():
        ctx = GLib.MainContext.default()
        while ctx.pending():
            ctx.iteration(False)

    def application():
        desktop = pyatspi.Registry.getDesktop(0)
        desktop.clearCache()
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and (a.name or "").lower() == "lumora":
                return a
        return None

    app = wait_for("the program on the bus", application, 15, pump)
    if not app:
        desktop = pyatspi.Registry.getDesktop(0)
        names = [desktop.getChildAtIndex(i).name for i in range(desktop.childCount)]
        fail(f"lumora never appeared on the accessibility bus (there: {names}): {app_log()}")
        return 1

    def showing(acc):
        try:
            return acc.getState().contains(pyatspi.STATE_SHOWING)
        except Exception:
            return False

    def panel_window():
        for i in range(app.childCount):
            w = app.getChildAtIndex(i)
            if w is not None and (w.name or "").startswith("Lumora panel") and showing(w):
                return w
        return None

    # Connected: the program has read the rooms.
    def rooms_read():
        return any("/groups" in r.get("path", "") for r in http(bridge, "/sim/log"))
    if not wait_for("the first read", rooms_read, 15):
        fail("the program never read the bridge")
        return 1

    events = []
    def on_event(e):
        events.append((e.type, e.source_name if hasattr(e, "source_name") else ""))
    pyatspi.Registry.registerEventListener(on_event, *EVENTS)

    # Open it with the shortcut: no mouse anywhere.
    subprocess.run(["xdotool", "key", "ctrl+alt+k"], env=env, timeout=5)
    panel = wait_for("the panel", panel_window, 5, pump)
    if not panel:
        fail("the shortcut did not open the panel")
        return 1

    def focused():
        for acc in walk(pyatspi, panel):
            if acc.getState().contains(pyatspi.STATE_FOCUSED):
                return acc
        return None

    def tab_to(wanted, limit=40):
        for _ in range(limit):
            subprocess.run(["xdotool", "key", "Tab"], env=env, timeout=5)
            time.sleep(0.05)
            f = wait_for("the focus", focused, 1, pump)
            if f is not None and wanted(f.name or ""):
                return f
        return None

    # Keyboard only: to the ROOMS tab, and Space.
    if not tab_to(lambda name: name == "ROOMS"):
        fail("Tab never reached the ROOMS tab: " + describe(pyatspi, panel))
        return 1
    subprocess.run(["xdotool", "key", "space"], env=env, timeout=5)

    # The kitchen row shows the bridge's 100 once a refresh brought it.
    def kitchen_slider():
        for acc in walk(pyatspi, panel):
            if (acc.name or "").startswith("Kitchen brightness, 39 %"):
                return acc
        return None
    slider = wait_for("the kitchen at 100", kitchen_slider, 10, pump)
    if not slider:
        fail("no slider named 'Kitchen brightness, 39 %': " + describe(pyatspi, panel))
        return 1

    # Every control has a name; the rows and controls have their roles.
    interactive = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
                   pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON,
                   pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
                   pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_COLOR_CHOOSER, pyatspi.ROLE_LINK,
                   pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_MENU_ITEM}
    named = {}
    controls = 0
    for acc in walk(pyatspi, panel):
        role = acc.getRole()
        focusable = acc.getState().contains(pyatspi.STATE_FOCUSABLE)
        if role in interactive or focusable:
            controls += 1
            if not (acc.name or "").strip():
                fail(f"a {acc.getRoleName()} without a name under {path_of(acc)}")
        named.setdefault(acc.name, []).append(role)
    print(f"{controls} controls in the panel", flush=True)
    if controls < 15:  # three in the title and tabs, four in each of four rooms
        fail(f"only {controls} controls: the tree is not all there")
    for name, role in (("Kitchen on", pyatspi.ROLE_CHECK_BOX),
                       ("Kitchen brightness, 39 %", pyatspi.ROLE_SLIDER),
                       ("Kitchen scenes", pyatspi.ROLE_PUSH_BUTTON),
                       ("Kitchen colour temperature", pyatspi.ROLE_SLIDER),
                       ("Living room colour", pyatspi.ROLE_COLOR_CHOOSER),
                       ("ROOMS", pyatspi.ROLE_PAGE_TAB), ("Settings", pyatspi.ROLE_PUSH_BUTTON),
                       ("Kitchen", pyatspi.ROLE_PANEL)):
        if role not in named.get(name, []):
            fail(f"{name!r}: roles {[str(r) for r in named.get(name, [])]}, expected {role}")
    on = find(pyatspi, panel, "Kitchen on")
    if on and not on.getState().contains(pyatspi.STATE_CHECKED):
        fail("the kitchen is on, its switch is not checked")
    value = slider.queryValue()
    if abs(value.currentValue - 100 / 2.55) > 0.01 or value.maximumValue != 100:
        fail(f"slider value {value.currentValue} of {value.maximumValue}")

    # On by Tab to the kitchen slider.
    if not tab_to(lambda name: name.startswith("Kitchen brightness")):
        fail("Tab never reached the kitchen slider")
        return 1

    http(bridge, "/sim/log", "DELETE")
    events.clear()
    for _ in range(3):
        subprocess.run(["xdotool", "key", "Right"], env=env, timeout=5)
        time.sleep(0.45)
    time.sleep(1.0)
    pump()
    sends = []
    for r in http(bridge, "/sim/log"):
        if r.get("method") == "PUT" and f"/groups/{kitchen_group}/action" in r.get("path", ""):
            body = json.loads(r.get("body") or "{}")
            if "bri" in body:
                sends.append((r.get("wall_ms", 0.0), body["bri"]))
    print("sends:", sends, flush=True)
    if [b for _, b in sends] != [150, 200, 250]:
        fail(f"three steps of 50 from 100 expected, the bridge got {[b for _, b in sends]}")
    for (t0, _), (t1, _) in zip(sends, sends[1:]):
        if t1 - t0 < 290:
            fail(f"sends {t1 - t0:.0f} ms apart: not paced by the queue")
    now = wait_for("the new name", lambda: find(pyatspi, panel, "Kitchen brightness, 98 %"), 3,
                   pump)
    if not now:
        fail("the slider's name did not follow: " + describe(pyatspi, panel))
    elif abs(now.queryValue().currentValue - 250 / 2.55) > 0.01:
        fail(f"the slider's value did not follow: {now.queryValue().currentValue}")
    kinds = {t for t, _ in events}
    print("events:", sorted(kinds), flush=True)
    if not any("value" in k for k in kinds):
        fail("no value-change event reached the bus")

    # Escape closes the panel.
    subprocess.run(["xdotool", "key", "Escape"], env=env, timeout=5)
    if not wait_for("closed", lambda: panel_window() is None, 5, pump):
        fail("Escape left the panel open")

    pyatspi.Registry.deregisterEventListener(on_event, *EVENTS)
    if proc.poll() is not None:
        fail("lumora exited: " + app_log())
    return 1 if failures else 0


def walk(pyatspi, acc, depth=0):
    """The shown elements under acc, acc first."""
    if acc is None or depth > 40:
        return
    try:
        if depth == 0:
            acc.clearCache()  # read afresh, not what earlier events left
        state = acc.getState()
    except Exception:
        return
    if depth > 0 and not state.contains(pyatspi.STATE_SHOWING):
        return
    yield acc
    try:
        kids = [acc.getChildAtIndex(i) for i in range(acc.childCount)]
    except Exception:
        return  # gone while being read: the list was rebuilt
    for kid in kids:
        yield from walk(pyatspi, kid, depth + 1)


def find(pyatspi, root, name):
    for acc in walk(pyatspi, root):
        if acc.name == name:
            return acc
    return None


def path_of(acc):
    parts = []
    while acc is not None and len(parts) < 20:
        parts.append(f"{acc.getRoleName()}[{acc.name}]")
        acc = acc.parent
    return "/".join(reversed(parts))


def describe(pyatspi, root):
    return "; ".join(f"{a.getRoleName()}[{a.name}]" for a in walk(pyatspi, root))


if __name__ == "__main__":
    sys.exit(main())
