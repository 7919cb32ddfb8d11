#!/usr/bin/env python3
"""Checks every #include under src/ and simulator/ against the layer rules.

    check_includes.py ROOT              the tree at ROOT; exit 1 on a violation
    check_includes.py --probe ROOT      ROOT is a probe tree whose refused lines
                                        carry "// refused: <reason>"; exit 0
                                        only if exactly those are refused

Each folder may include the project folders and the system header families
listed for it below, and nothing else. Project headers are written from the
source root ("bridge/records.h"); the simulator's from the repository root
("simulator/sim_server.h").
"""

import os
import re
import sys

# --- System header families -------------------------------------------------

CXX_STANDARD = set("""
algorithm any array atomic barrier bit bitset charconv chrono codecvt compare
complex concepts condition_variable coroutine deque exception execution
expected filesystem format forward_list fstream functional future
initializer_list iomanip ios iosfwd iostream istream iterator latch limits
list locale map memory memory_resource mutex new numbers numeric optional
ostream print queue random ranges ratio regex scoped_allocator semaphore set
shared_mutex source_location span spanstream sstream stack stacktrace
stdexcept stop_token streambuf string string_view syncstream system_error
thread tuple type_traits typeindex typeinfo unordered_map unordered_set
utility valarray variant vector version
cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp
csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar
cwctype
""".split())

C_STANDARD = set("""
assert.h ctype.h errno.h fenv.h float.h inttypes.h limits.h locale.h math.h
setjmp.h signal.h stdarg.h stddef.h stdint.h stdio.h stdlib.h string.h time.h
uchar.h wchar.h wctype.h
""".split())

POSIX = set("""
arpa/inet.h dirent.h dlfcn.h fcntl.h fnmatch.h glob.h grp.h ifaddrs.h
langinfo.h net/if.h netdb.h poll.h pthread.h pwd.h sched.h semaphore.h spawn.h
strings.h syslog.h termios.h unistd.h
malloc.h
""".split())

FAMILIES = {
    "std": lambda h: h in CXX_STANDARD or h in C_STANDARD or h in POSIX
    or re.fullmatch(r"(sys|netinet)/\w+\.h", h) is not None,
    "json": lambda h: h.startswith("nlohmann/"),
    "icu": lambda h: h.startswith("unicode/"),
    "http": lambda h: h == "httplib.h",
    "tls": lambda h: h.startswith("openssl/"),
    "Qt": lambda h: re.fullmatch(r"Q\w*|Qt\w+/[\w.]+", h) is not None,
    "X11": lambda h: h.split("/")[0] in ("xcb", "X11", "xkbcommon"),
    "Avahi": lambda h: h.startswith("avahi-"),
    "dbus": lambda h: h.startswith("dbus/"),
}

# --- Which folder may include what ------------------------------------------

CORE = ["base", "bridge", "shortcuts", "app"]
PLATFORM = ["app/linux", "app/x11", "base/x11", "bridge/avahi", "shortcuts/x11"]
SHELL_BELOW = CORE + PLATFORM + ["app/qt", "shortcuts/portal", "ui"]
CORE_LIBS = ["std", "json", "icu", "http", "tls"]

# folder: (project folders it may include, header families it may include)
RULES = {
    # The base stands below everything.
    "base": (["base"], ["std", "json", "icu"]),
    # The xcb event loop the X11 back-ends share: beside the base, on xcb.
    "base/x11": (["base", "base/x11"], ["std", "X11"]),
    # The core: no toolkit, no X11, no Avahi.
    "bridge": (["base", "bridge"], CORE_LIBS),
    "shortcuts": (["base", "shortcuts"], CORE_LIBS),
    "app": (CORE, CORE_LIBS),
    # Platform back-ends: each on the core and nothing beside it.
    "app/linux": (CORE + ["app/linux"], CORE_LIBS),
    "app/x11": (CORE + ["app/x11", "base/x11"], ["std", "X11"]),
    "bridge/avahi": (CORE + ["bridge/avahi"], ["std", "Avahi"]),
    "shortcuts/x11": (CORE + ["shortcuts/x11", "base/x11"], ["std", "X11"]),
    # The demo modes' bridge: the core's settings over the simulated bridge.
    "app/demo": (CORE + ["app/demo", "simulator"], ["std"]),
    # The command-line program: no toolkit, no display.
    # It calls the tray program over plain libdbus, which Avahi loads anyway.
    "ctl": (CORE + ["app/linux", "app/demo", "bridge/avahi", "ctl", "simulator"],
            CORE_LIBS + ["dbus"]),
    # The shell. Panel and preferences stand side by side on ui/.
    "app/qt": (CORE + PLATFORM + ["app/qt"], ["std", "Qt"]),
    # Global shortcuts through the desktop portal: the core's shortcut module
    # over Qt D-Bus, beside the X11 service rather than on it.
    "shortcuts/portal": (CORE + ["shortcuts/portal"], ["std", "Qt"]),
    # The tray program on the session bus: Qt D-Bus over the core's controller
    # and hotkey actions; the panel reaches it only through what main hands in.
    "control": (CORE + ["control"], ["std", "Qt"]),
    "ui": (SHELL_BELOW, ["std", "Qt"]),
    "panel": (SHELL_BELOW + ["panel", "panel/views"], ["std", "Qt", "X11"]),
    "panel/views": (SHELL_BELOW + ["panel", "panel/views"], ["std", "Qt"]),
    "preferences": (SHELL_BELOW + ["preferences"], ["std", "Qt"]),
    # The web view plugin links nothing of ours: the interface header only.
    "preferences/webview": (["preferences"], ["std", "Qt"]),
    # lumora's main: it puts the program together.
    "": (SHELL_BELOW + ["app/demo", "control", "panel", "panel/views", "preferences",
                        "simulator"], ["std", "json", "Qt"]),
    # The simulated bridge shares no code with the client.
    "simulator": (["simulator"], ["std", "json", "http", "tls", "Avahi"]),
}

# Includes allowed against the table, each (file, header) with the reason
# beside it. An entry nothing relies on any more is itself a finding.
EXCEPTIONS = set()

# Each scanned tree, and the folder its includes are written from.
TREES = {"src": "src", "simulator": "."}
TOP_FOLDERS = {f.split("/")[0] for f in RULES if f}
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'\s*#\s*include(?:_next)?\s*(.*)')
REFUSED_MARK = re.compile(r"//\s*refused:\s*(.*\S)")


def folder_of(header):
    return header.rpartition("/")[0]


def source_root_spelling(root, includer_dir, quoted):
    """How the header quoted relative to the includer is written from the
    source root, if it exists there."""
    for start in [includer_dir] + [os.path.join(root, t) for t in TREES.values()]:
        path = os.path.normpath(os.path.join(start, quoted))
        if not os.path.isfile(path):
            continue
        for tree, spelled_from in TREES.items():
            if is_within(path, os.path.join(root, tree)):
                return relative(path, os.path.join(root, spelled_from))
    return None


def relative(path, start):
    return os.path.relpath(path, start).replace(os.sep, "/")


def is_within(path, folder):
    return not relative(path, folder).startswith("../")


def check_include(root, path, folder, spelled):
    """(reason the include breaks a rule or None, exception it relied on)."""
    name = folder or "main"
    allowed_folders, allowed_families = RULES[folder]
    m = re.fullmatch(r'"([^"]+)"|<([^>]+)>', spelled)
    if not m:
        return f"{spelled}: a computed include cannot be checked", None
    quoted, angled = m.group(1), m.group(2)
    if angled is not None:
        if angled.split("/")[0] in TOP_FOLDERS:
            return f"<{angled}> is ours: include it with quotes", None
        for family in allowed_families:
            if FAMILIES[family](angled):
                return None, None
        family = next((f for f, match in FAMILIES.items() if match(angled)), None)
        if family:
            return f"{name} may not include {family} (<{angled}>)", None
        return f"<{angled}> is in no header family of the rules", None
    stem = os.path.splitext(os.path.basename(path))[0]
    if quoted in (f"{stem}.moc", f"moc_{stem}.cpp"):
        return None, None  # made by the build from this very file
    target = folder_of(quoted)
    # main's own helpers beside it at the top of src/.
    if folder == "" and "/" not in quoted and os.path.isfile(
            os.path.join(os.path.dirname(path), quoted)):
        return None, None
    if quoted.split("/")[0] not in TOP_FOLDERS or "/." in "/" + quoted:
        reason = f'"{quoted}" is not written from the source root'
        better = source_root_spelling(root, os.path.dirname(path), quoted)
        return (reason + (f': write "{better}"' if better else "")), None
    if target not in RULES:
        return f'"{quoted}": folder {target}/ has no include rules', None
    if target in allowed_folders:
        return None, None
    relpath = relative(path, root)
    if (relpath, quoted) in EXCEPTIONS:
        return None, (relpath, quoted)
    return f"{name} may not include {target}/ (\"{quoted}\")", None


def scan(root):
    """(relpath, line number, reason) for every refused include under root,
    and the exceptions that were relied on."""
    refused = []
    used = set()
    for tree, spelled_from in TREES.items():
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, tree)):
            dirnames.sort()
            for filename in sorted(filenames):
                if not filename.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, filename)
                relpath = relative(path, root)
                folder = relative(dirpath, os.path.join(root, spelled_from))
                folder = "" if folder == "." else folder
                if folder not in RULES:
                    refused.append((relpath, 1, f"folder {folder}/ has no include rules"))
                    continue
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        spelled = re.sub(r"\s*//.*$", "", m.group(1)).strip()
                        reason, exception = check_include(root, path, folder, spelled)
                        if reason:
                            refused.append((relpath, number, reason))
                        if exception:
                            used.add(exception)
    return refused, used


def check_tree(root):
    refused, used = scan(root)
    findings = [f"{relpath}:{number}: {reason}" for relpath, number, reason in refused]
    findings += [f'{relpath}: the exception for "{header}" is no longer needed: drop it'
                 for relpath, header in sorted(EXCEPTIONS - used)]
    for finding in findings:
        print(finding)
    if findings:
        print(f"{len(findings)} finding(s) against the layer rules "
              "(tests/layers/check_includes.py)")
        return 1
    return 0


def check_probe(root):
    """The probe's refused lines, and only those, must be refused, each for
    the reason its comment gives."""
    expected = {}
    for tree in TREES:
        for dirpath, _, filenames in os.walk(os.path.join(root, tree)):
            for filename in filenames:
                path = os.path.join(dirpath, filename)
                relpath = relative(path, root)
                with open(path, encoding="utf-8") as f:
                    for number, line in enumerate(f, 1):
                        m = REFUSED_MARK.search(line)
                        if m:
                            expected[(relpath, number)] = m.group(1)
    if not expected:
        print(f"{root}: the probe marks no line as refused")
        return 1
    got = {(relpath, number): reason for relpath, number, reason in scan(root)[0]}
    ok = True
    for key in sorted(expected.keys() | got.keys()):
        where = f"{key[0]}:{key[1]}"
        if key not in got:
            print(f"{where}: not refused; expected: {expected[key]}")
            ok = False
        elif key not in expected:
            print(f"{where}: refused unexpectedly: {got[key]}")
            ok = False
        elif expected[key] not in got[key]:
            print(f"{where}: refused as \"{got[key]}\"; expected: {expected[key]}")
            ok = False
        else:
            print(f"{where}: {got[key]}")
    return 0 if ok else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "--probe":
        return check_probe(argv[2])
    if len(argv) == 2 and not argv[1].startswith("-"):
        return check_tree(argv[1])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
