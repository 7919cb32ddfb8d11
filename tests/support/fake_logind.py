#!/usr/bin/python3
"""A stand-in for the login manager's sleep signal, for desktop tests.

Owns org.freedesktop.login1 on the bus given with --address (a private bus
the program under test takes for the system bus) and exports
/org/freedesktop/login1 with the interface org.freedesktop.login1.Manager.

Prints READY once the name is ours, and INHIBIT <what> <who> <why> <mode>
when a client asks for an inhibitor lock (it gets a descriptor of /dev/null).

Commands on stdin, one a line:

  SLEEP                 emits PrepareForSleep(true), prints EMITTED true
  WAKE                  emits PrepareForSleep(false), prints EMITTED false
  WAITSUB [seconds]     waits until another connection has subscribed to
                        PrepareForSleep; prints SUBSCRIBED <connection> or
                        ERR no subscriber (default 5 seconds)

Exits when stdin closes. Exits with 77 when its Python modules are missing.
"""

import argparse
import os
import sys
import time

try:
    import dbus
    import dbus.service
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
except ImportError as error:
    print(f"fake_logind: {error} (python3-dbus and python3-gi)", file=sys.stderr)
    sys.exit(77)

NAME = "org.freedesktop.login1"
PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"
PROPERTIES = "org.freedesktop.DBus.Properties"


def say(line):
    print(line, flush=True)


class Manager(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.preparing = False

    @dbus.service.signal(MANAGER, signature="b")
    def PrepareForSleep(self, start):
        pass

    @dbus.service.method(MANAGER, in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        say(f"INHIBIT {what} {who} {why} {mode}".replace("\n", " "))
        fd = os.open("/dev/null", os.O_RDONLY | os.O_CLOEXEC)
        try:
            return dbus.types.UnixFd(fd)  # sends a duplicate
        finally:
            os.close(fd)

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == MANAGER and name == "PreparingForSleep":
            return dbus.Boolean(self.preparing)
        raise dbus.DBusException(
            f"no property {interface}.{name}", name="org.freedesktop.DBus.Error.UnknownProperty"
        )

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"PreparingForSleep": dbus.Boolean(self.preparing)} if interface == MANAGER else {}

    def emit(self, start):
        self.preparing = start
        self.PrepareForSleep(start)
        say(f"EMITTED {'true' if start else 'false'}")


def subscriber(bus):
    """Another connection whose match rules would take PrepareForSleep."""
    daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus", introspect=False)
    rules = daemon.GetAllMatchRules(dbus_interface="org.freedesktop.DBus.Debug.Stats")
    for connection, patterns in rules.items():
        if connection == bus.get_unique_name():
            continue
        for rule in patterns:
            if "PrepareForSleep" in rule or (MANAGER in rule and "member=" not in rule):
                return str(connection)
    return None


class Commands:
    def __init__(self, bus, manager, loop):
        self.bus = bus
        self.manager = manager
        self.loop = loop
        self.pending = b""

    def wait_subscriber(self, seconds):
        deadline = time.monotonic() + seconds

        def look():
            try:
                found = subscriber(self.bus)
            except dbus.DBusException as error:
                say(f"ERR {error.get_dbus_name()}")
                return False
            if found:
                say(f"SUBSCRIBED {found}")
                return False
            if time.monotonic() > deadline:
                say("ERR no subscriber")
                return False
            return True  # look again

        if look():
            GLib.timeout_add(20, look)

    def run(self, line):
        words = line.split()
        if not words:
            return
        command = words[0].upper()
        if command == "SLEEP":
            self.manager.emit(True)
        elif command == "WAKE":
            self.manager.emit(False)
        elif command == "WAITSUB":
            try:
                seconds = float(words[1]) if len(words) > 1 else 5.0
            except ValueError:
                say("ERR bad time")
                return
            self.wait_subscriber(seconds)
        else:
            say(f"ERR unknown command {words[0]}")

    def readable(self, fd, condition):
        # Raw reads: a buffered readline could keep a second line in its
        # buffer where the watch on the descriptor never sees it.
        chunk = os.read(fd, 4096)
        if not chunk:
            self.loop.quit()  # the test is gone
            return False
        self.pending += chunk
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            self.run(line.decode(errors="replace").strip())
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", help="the bus to serve (default: the system bus)")
    args = parser.parse_args()

    DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address) if args.address else dbus.SystemBus()
    manager = Manager(bus)
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    commands = Commands(bus, manager, loop)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, commands.readable)
    say("READY")
    loop.run()
    del name


if __name__ == "__main__":
    main()
