#!/usr/bin/env python3
"""bash_complete.py COMPLETION_FILE WORK_DIR LINE

Types LINE and TAB into an interactive bash on a pty, as a person would, and
prints the line as completion left it, then the candidates it offered, one a
line. The candidates are kept by a wrapper around the completion function,
which bash calls with the words split its own way; a key bound to a shell
function prints both between control bytes, which the echo of the typed text
never holds.
"""
import os
import pty
import select
import sys
import time

completion, work, line = sys.argv[1:4]
rc = os.path.join(work, "bashrc")
with open(rc, "w") as f:
    f.write(
        "PS1=\n"
        f"source '{completion}'\n"
        "bind 'set bell-style none'\n"
        "_kept() { _lumora_ctl \"$@\"; _offered=(\"${COMPREPLY[@]}\"); }\n"
        "complete -F _kept lumora-ctl\n"
        "_dump() { local IFS=$'\\x1f'; printf '\\001%s\\003%s\\002' \"$READLINE_LINE\" \"${_offered[*]}\";"
        " READLINE_LINE=; }\n"
        "bind -x '\"\\C-t\": _dump'\n"
    )

pid, fd = pty.fork()
if pid == 0:
    os.environ["TERM"] = "dumb"
    os.execvp("bash", ["bash", "--noprofile", "--rcfile", rc, "-i"])

os.write(fd, (line + "\t\x14").encode())
out = b""
deadline = time.monotonic() + 15
while b"\x02" not in out.rpartition(b"\x01")[2] and time.monotonic() < deadline:
    ready, _, _ = select.select([fd], [], [], 0.5)
    if ready:
        try:
            out += os.read(fd, 4096)
        except OSError:
            break
os.kill(pid, 9)
os.waitpid(pid, 0)
if b"\x01" not in out:
    sys.exit("no answer from bash: %r" % out[-300:])
typed, _, offered = out.rpartition(b"\x01")[2].partition(b"\x02")[0].decode().partition("\x03")
print(typed)
for c in sorted(x for x in offered.split("\x1f") if x):
    print(c)
