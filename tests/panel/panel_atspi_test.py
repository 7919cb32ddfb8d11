#!/usr/bin/python3
"""The tray program as a screen reader sees it, over the accessibility bus.

Run by the desktop test (tray_e2e_test.cpp) inside its private desktop, with
the accessibility bus launched there. Once the registry answers it prints
READY and reads `BRIDGE ADDRESS USER` from stdin, when `lumora --demo` runs
with the panel's shortcut recorded. It opens the panel with that shortcut and
reads the panel's tree: every control needs a name, the rows and their
controls have the roles and names they are announced by. Then by keyboard
alone: Tab to the Kitchen slider, three Right presses reach the simulated
bridge as three steps paced by the queue, and Escape closes the panel.

Prints FAIL lines; exits 0, 1 on a failure, or 77 (skipped) when a module
it needs is missing or the accessibility bus does not come up.
"""

import json
import os
import ssl
import subprocess
import sys
import time
import urllib.request

SKIP = 77
EVENTS = ("object:property-change:accessible-value", "object:value-changed",
          "object:state-changed:checked", "object:property-change:accessible-name")

failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message, flush=True)


def skip(message):
    print("SKIP:", message, flush=True)
    sys.exit(SKIP)


def http(bridge, path, method="GET", body=None):
    url = bridge if "://" in bridge else f"http://{bridge}"
    req = urllib.request.Request(f"{url}{path}", method=method,
                                 data=None if body is None else json.dumps(body).encode())
    # The demo's bridge on loopback has a certificate of its own making; the
    # program under test checks it, this script only drives the bridge.
    context = ssl._create_unverified_context() if url.startswith("https:") else None
    with urllib.request.urlopen(req, timeout=3, context=context) as r:
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
    def bus_address():
        out = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply",
                              "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                             capture_output=True, text=True, timeout=5)
        for line in out.stdout.splitlines():
            line = line.strip()
            if line.startswith("string "):
                return line.split('"')[1]
        return None

    a11y = wait_for("the accessibility bus", bus_address, 10)
    if not a11y:
        skip("the accessibility bus did not start")
    os.environ["AT_SPI_BUS_ADDRESS"] = a11y
    try:
        import pyatspi
        from gi.repository import GLib
    except ImportError:
        skip("python3-gi or python3-pyatspi is not installed")
    # The registry daemon answers on the accessibility bus.
    if not wait_for("the registry", lambda: pyatspi.Registry.getDesktop(0) is not None, 10):
        skip("the accessibility registry did not answer")
    print("READY", flush=True)
    words = sys.stdin.readline().split()
    if len(words) != 3 or words[0] != "BRIDGE":
        fail(f"no bridge given: {words}")
        return 1
    bridge, user = words[1], words[2]

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
        fail(f"lumora never appeared on the accessibility bus (there: {names})")
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
    subprocess.run(["xdotool", "key", "ctrl+alt+k"], timeout=5)
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
            subprocess.run(["xdotool", "key", "Tab"], timeout=5)
            time.sleep(0.05)
            f = wait_for("the focus", focused, 1, pump)
            if f is not None and wanted(f.name or ""):
                return f
        return None

    # Keyboard only: to the ROOMS tab, and Space.
    if not tab_to(lambda name: name == "ROOMS"):
        fail("Tab never reached the ROOMS tab: " + describe(pyatspi, panel))
        return 1
    subprocess.run(["xdotool", "key", "space"], timeout=5)

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
        subprocess.run(["xdotool", "key", "Right"], timeout=5)
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
    subprocess.run(["xdotool", "key", "Escape"], timeout=5)
    if not wait_for("closed", lambda: panel_window() is None, 5, pump):
        fail("Escape left the panel open")

    pyatspi.Registry.deregisterEventListener(on_event, *EVENTS)
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
