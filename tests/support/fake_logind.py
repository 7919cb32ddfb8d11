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

import os
import sys
import time

sys.dont_write_bytecode = True  # nothing written next to the sources
from fake_service import GLib, dbus, say, serve  # noqa: E402

NAME = "org.freedesktop.login1"
PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"
PROPERTIES = "org.freedesktop.DBus.Properties"


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


def commands(bus, manager):
    def wait_subscriber(seconds):
        deadline = time.monotonic() + seconds

        def look():
            try:
                found = subscriber(bus)
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

    def run(words):
        command = words[0].upper()
        if command == "SLEEP":
            manager.emit(True)
        elif command == "WAKE":
            manager.emit(False)
        elif command == "WAITSUB":
            try:
                seconds = float(words[1]) if len(words) > 1 else 5.0
            except ValueError:
                say("ERR bad time")
                return
            wait_subscriber(seconds)
        else:
            say(f"ERR unknown command {words[0]}")

    return run


if __name__ == "__main__":
    serve(__doc__, dbus.SystemBus, NAME, lambda bus: commands(bus, Manager(bus)))
