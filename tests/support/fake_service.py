"""What the stand-in services share: the Python modules they need (exit 77
when missing, a skip and not a failure), `say`, and `serve`, which owns a
bus name and answers the test's command lines until stdin closes."""

import argparse
import os
import sys

try:
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
except ImportError as error:
    print(f"{os.path.basename(sys.argv[0])}: {error} (python3-dbus and python3-gi)",
          file=sys.stderr)
    sys.exit(77)


def say(line):
    print(line, flush=True)


def serve(doc, default_bus, name, make):
    """Serves on the bus given with --address, else on `default_bus()`:
    `make(bus)` exports the objects and returns `run(words)`, called with the
    words of each line the test sends; READY once `name` is ours."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--address", help="the bus to serve (default: the usual one)")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address) if args.address else default_bus()
    run = make(bus)
    owned = dbus.service.BusName(name, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    pending = b""

    def readable(fd, condition):
        # Raw reads: a buffered readline could keep a second line in its
        # buffer where the watch on the descriptor never sees it.
        nonlocal pending
        chunk = os.read(fd, 4096)
        if not chunk:
            loop.quit()  # the test is gone
            return False
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            words = line.decode(errors="replace").split()
            if words:
                run(words)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, readable)
    say("READY")
    loop.run()
    del owned
