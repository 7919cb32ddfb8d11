#!/usr/bin/python3
"""A stand-in StatusNotifierWatcher with a host, for desktop tests.

Owns org.kde.StatusNotifierWatcher on the bus given with --address (else the
session bus) and tells the test on stdout what happens:

  READY                           once the name is ours
  REGISTERED <service> <path>     an item registered
  UNREGISTERED <service> <path>   its owner left the bus
  SIGNAL <member> <args...>       a signal from a registered item

Commands on stdin, one a line, each answered with OK, VALUE or ERR <message>;
the target is the item registered last, or the one whose service is named:

  ACTIVATE x y [service]          calls Activate(x, y)
  CONTEXT x y [service]           calls ContextMenu(x, y)
  SECONDARY x y [service]         calls SecondaryActivate(x, y)
  SCROLL delta orientation [service]
  GET property [service]          prints VALUE <property> <value>
  MENU [service]                  prints MENU <label>|<label>|... from the
                                  item's dbusmenu ("-" for a separator)
  ITEMS                           prints ITEMS <service><path> ...

Exits when stdin closes. Exits with 77 when its Python modules are missing.
"""

import sys

sys.dont_write_bytecode = True  # nothing written next to the sources
from fake_service import dbus, say, serve  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"
INTROSPECTABLE = "org.freedesktop.DBus.Introspectable"

PROPERTY_XML = """
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
"""


def text(value):
    """A D-Bus value as one line of text."""
    if isinstance(value, dbus.Boolean):
        return "true" if value else "false"
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return "[" + ", ".join(text(v) for v in value) + "]"
    if isinstance(value, dbus.ByteArray):
        return f"<{len(value)} bytes>"
    return str(value)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []  # (service, path, unique owner)
        bus.add_signal_receiver(
            self.owner_changed,
            signal_name="NameOwnerChanged",
            dbus_interface="org.freedesktop.DBus",
            bus_name="org.freedesktop.DBus",
            path="/org/freedesktop/DBus",
        )
        bus.add_signal_receiver(
            self.item_signal,
            dbus_interface=ITEM,
            sender_keyword="sender",
            member_keyword="member",
        )

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Some items pass their object path and mean their own connection,
        # others a bus name with the usual path.
        if service.startswith("/"):
            name, path = sender, service
        else:
            name, path = service, "/StatusNotifierItem"
        try:
            owner = name if name.startswith(":") else self.bus.get_name_owner(name)
        except dbus.DBusException:
            raise dbus.DBusException(
                f"{name} has no owner", name="org.freedesktop.DBus.Error.InvalidArgs"
            )
        if not any(i[0] == name and i[1] == path for i in self.items):
            self.items.append((name, path, owner))
        self.StatusNotifierItemRegistered(name + path)
        say(f"REGISTERED {name} {path}")

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(
                [s + p for s, p, _ in self.items], signature="s"
            ),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        values = self.properties()
        if interface != WATCHER or name not in values:
            raise dbus.DBusException(
                f"no property {interface}.{name}",
                name="org.freedesktop.DBus.Error.UnknownProperty",
            )
        return values[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface in (WATCHER, "") else {}

    @dbus.service.method(PROPERTIES, in_signature="ssv")
    def Set(self, interface, name, value):
        raise dbus.DBusException(
            "the properties are read-only", name="org.freedesktop.DBus.Error.PropertyReadOnly"
        )

    @dbus.service.method(
        INTROSPECTABLE, in_signature="", out_signature="s", path_keyword="path", connection_keyword="connection"
    )
    def Introspect(self, path, connection):
        # The generated description lists methods and signals only; clients
        # that read properties through a proxy want them listed too.
        xml = dbus.service.Object.Introspect(self, path, connection)
        marker = f'<interface name="{WATCHER}">'
        return xml.replace(marker, marker + PROPERTY_XML, 1)

    def owner_changed(self, name, old, new):
        if new:
            return
        for item in [i for i in self.items if i[0] == name or i[2] == old]:
            self.items.remove(item)
            self.StatusNotifierItemUnregistered(item[0] + item[1])
            say(f"UNREGISTERED {item[0]} {item[1]}")

    def item_signal(self, *args, sender=None, member=None):
        if any(i[2] == sender for i in self.items):
            say(" ".join(["SIGNAL", member] + [text(a) for a in args]))

    def target(self, service):
        for name, path, _ in reversed(self.items):
            if service is None or name == service:
                return name, path
        return None


class Commands:
    def __init__(self, watcher):
        self.watcher = watcher

    def reply(self, *_):
        say("OK")

    def error(self, error):
        name = error.get_dbus_name() if isinstance(error, dbus.DBusException) else ""
        say(f"ERR {name} {error}".replace("\n", " "))

    def call(self, words, method, signature):
        count = len(signature)
        if len(words) < count:
            say(f"ERR {method} needs {count} arguments")
            return
        target = self.watcher.target(words[count] if len(words) > count else None)
        if not target:
            say("ERR no item registered")
            return
        try:
            args = [int(w) if t == "i" else w for w, t in zip(words, signature)]
        except ValueError:
            say(f"ERR bad arguments for {method}")
            return
        proxy = self.watcher.bus.get_object(target[0], target[1], introspect=False)
        proxy.get_dbus_method(method, ITEM)(
            *args, signature=signature, reply_handler=self.reply, error_handler=self.error
        )

    def get(self, words):
        if not words:
            say("ERR GET needs a property")
            return
        target = self.watcher.target(words[1] if len(words) > 1 else None)
        if not target:
            say("ERR no item registered")
            return
        proxy = self.watcher.bus.get_object(target[0], target[1], introspect=False)
        proxy.Get(
            ITEM,
            words[0],
            dbus_interface=PROPERTIES,
            reply_handler=lambda value: say(f"VALUE {words[0]} {text(value)}"),
            error_handler=self.error,
        )

    def menu(self, words):
        target = self.watcher.target(words[0] if words else None)
        if not target:
            say("ERR no item registered")
            return
        bus = self.watcher.bus
        item = bus.get_object(target[0], target[1], introspect=False)

        def layout(reply):
            _, (_, _, children) = reply
            labels = []
            for _, props, _ in children:
                labels.append("-" if props.get("type") == "separator" else str(props.get("label", "")))
            say("MENU " + "|".join(labels))

        def got_path(path):
            menu = bus.get_object(target[0], path, introspect=False)
            menu.GetLayout(
                0, -1, dbus.Array([], signature="s"),
                dbus_interface="com.canonical.dbusmenu",
                reply_handler=lambda *reply: layout(reply),
                error_handler=self.error,
            )

        item.Get(ITEM, "Menu", dbus_interface=PROPERTIES, reply_handler=got_path,
                 error_handler=self.error)

    def run(self, words):
        command, rest = words[0].upper(), words[1:]
        if command == "ACTIVATE":
            self.call(rest, "Activate", "ii")
        elif command == "CONTEXT":
            self.call(rest, "ContextMenu", "ii")
        elif command == "SECONDARY":
            self.call(rest, "SecondaryActivate", "ii")
        elif command == "SCROLL":
            self.call(rest, "Scroll", "is")
        elif command == "GET":
            self.get(rest)
        elif command == "MENU":
            self.menu(rest)
        elif command == "ITEMS":
            say(" ".join(["ITEMS"] + [s + p for s, p, _ in self.watcher.items]))
        else:
            say(f"ERR unknown command {words[0]}")


def start(bus):
    watcher = Watcher(bus)
    watcher.StatusNotifierHostRegistered()
    return Commands(watcher).run


if __name__ == "__main__":
    serve(__doc__, dbus.SessionBus, WATCHER, start)
