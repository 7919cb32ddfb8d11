#!/usr/bin/python3
"""A stand-in for the desktop portal's global shortcuts, for shortcut tests.

Owns org.freedesktop.portal.Desktop on the bus given with --address (a
private bus the test started) and exports /org/freedesktop/portal/desktop
with org.freedesktop.portal.GlobalShortcuts (the `version` property, 2 unless
--version says otherwise) and org.freedesktop.host.portal.Registry. Requests
and sessions are objects at the paths the portal's rules give them; each
request answers with Response on its object once the call has returned.

Prints READY once the name is ours, then what clients do, one JSON object a
line after the word:

  REGISTER {"app_id": ...}
  CREATE {"session": path, "options": {...}}
  BIND {"session": path, "shortcuts": [[id, {...}], ...], "parent_window": ...}
  CONFIGURE {"session": path, "parent_window": ...}
  CLOSED {"session": path}

BindShortcuts answers with every shortcut and a trigger_description: its
preferred_trigger with "+" written " + ", or "" where it has none.

Commands on stdin, one a line:

  ACTIVATE <id>            emits Activated(last session, id, 0, {}); prints EMITTED
  CHANGED <id> <text...>   emits ShortcutsChanged(last session, [(id,
                           {trigger_description: text})]); prints EMITTED

Exits when stdin closes. Exits with 77 when its Python modules are missing.
"""

import argparse
import json
import sys

sys.dont_write_bytecode = True  # nothing written next to the sources
from fake_service import GLib, dbus, say, serve  # noqa: E402

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REGISTRY = "org.freedesktop.host.portal.Registry"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"


def plain(value):
    """D-Bus values as JSON ones."""
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (int,)):
        return int(value)
    return str(value)


def sender_part(sender):
    return sender.lstrip(":").replace(".", "_")


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method(REQUEST)
    def Close(self):
        self.remove_from_connection()


class Session(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)
        self.path = path

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass

    @dbus.service.method(SESSION)
    def Close(self):
        say("CLOSED " + json.dumps({"session": self.path}))
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus, version):
        super().__init__(bus, PATH)
        self.bus = bus
        self.version = version
        self.session = None

    def answer(self, sender, options, results):
        token = str(options.get("handle_token", "t"))
        path = f"{PATH}/request/{sender_part(sender)}/{token}"
        request = Request(self.bus, path)

        def respond():
            request.Response(dbus.UInt32(0), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        GLib.idle_add(respond)  # after the method's reply
        return dbus.ObjectPath(path)

    @dbus.service.method(REGISTRY, in_signature="sa{sv}")
    def Register(self, app_id, options):
        say("REGISTER " + json.dumps({"app_id": str(app_id)}))

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        token = str(options.get("session_handle_token", "s"))
        path = f"{PATH}/session/{sender_part(sender)}/{token}"
        self.session = Session(self.bus, path)
        say("CREATE " + json.dumps({"session": path, "options": plain(options)}))
        return self.answer(sender, options, {"session_handle": dbus.String(path)})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent_window, options, sender=None):
        say("BIND " + json.dumps({"session": str(session), "shortcuts": plain(shortcuts),
                                  "parent_window": str(parent_window)}))
        bound = dbus.Array([], signature="(sa{sv})")
        for shortcut_id, properties in shortcuts:
            preferred = str(properties.get("preferred_trigger", ""))
            bound.append(dbus.Struct((shortcut_id, dbus.Dictionary({
                "description": properties.get("description", dbus.String("")),
                "trigger_description": dbus.String(preferred.replace("+", " + ")),
            }, signature="sv"))))
        return self.answer(sender, options, {"shortcuts": bound})

    @dbus.service.method(SHORTCUTS, in_signature="osa{sv}")
    def ConfigureShortcuts(self, session, parent_window, options):
        say("CONFIGURE " + json.dumps({"session": str(session),
                                       "parent_window": str(parent_window)}))

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="oa(sa{sv})")
    def ShortcutsChanged(self, session, shortcuts):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface == SHORTCUTS and name == "version":
            return dbus.UInt32(self.version)
        raise dbus.DBusException(
            f"no property {interface}.{name}", name="org.freedesktop.DBus.Error.InvalidArgs"
        )

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"version": dbus.UInt32(self.version)} if interface == SHORTCUTS else {}


def commands(portal):
    def run(words):
        command = words[0].upper()
        if portal.session is None:
            say("ERR no session")
        elif command == "ACTIVATE" and len(words) == 2:
            portal.Activated(dbus.ObjectPath(portal.session.path), words[1], dbus.UInt64(0),
                             dbus.Dictionary({}, signature="sv"))
            say("EMITTED")
        elif command == "CHANGED" and len(words) >= 2:
            text = " ".join(words[2:])
            changed = dbus.Array([dbus.Struct((words[1], dbus.Dictionary(
                {"trigger_description": dbus.String(text)}, signature="sv")))],
                signature="(sa{sv})")
            portal.ShortcutsChanged(dbus.ObjectPath(portal.session.path), changed)
            say("EMITTED")
        else:
            say(f"ERR unknown command {' '.join(words)}")

    return run


if __name__ == "__main__":
    # --version is ours; fake_service reads --address.
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--version", type=int, default=2)
    known, rest = parser.parse_known_args()
    sys.argv = [sys.argv[0]] + rest
    serve(__doc__, dbus.SessionBus, NAME, lambda bus: commands(Portal(bus, known.version)))
