#!/usr/bin/env bash
# Checks what `cmake --install` (and so `make install`) lays out, and the .deb.
#   check_install.sh layout BUILD_DIR   staged install under a prefix that is not /usr
#   check_install.sh package BUILD_DIR  the .deb: control data, contents, a run from it
# Exit 0 pass, 1 fail, 77 skipped (a tool is missing, or not root for the package).
set -uo pipefail

mode=${1:?layout or package}
build=$(cd "${2:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
demo_user=lumora-demo-user-00000000000000000000000

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
skip() {
    echo "SKIPPED: $*"
    exit 77
}
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
    done
}

tmp=$(mktemp -d /tmp/lumora-install-check.XXXXXX)
sim_pid=""
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_CACHE_HOME=$tmp/cache XDG_CONFIG_HOME=$tmp/config LUMORA_CONFIG_DIR=$tmp/config/lumora
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"

# Every option a program's --help names must be in its man page.
check_page() { # PAGE_FILE PROGRAM
    local page=$1 program=$2 text warnings option
    [[ -f $page ]] || { fail "no man page $page"; return; }
    warnings=$(MANWIDTH=400 man --warnings -E ascii -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$(basename "$page") renders with warnings: $warnings"
    text=$(MANWIDTH=400 man -E ascii -l "$page" 2>/dev/null)
    [[ $text == *NAME* && $text == *SYNOPSIS* ]] || fail "$(basename "$page") renders no NAME and SYNOPSIS"
    for option in $("$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        [[ $text == *"$option"* ]] || fail "$(basename "$page") does not describe $option"
    done
}

# Starts the installed simulator on loopback; sets sim_address.
start_sim() { # BIN_DIR
    "$1/lumora-bridge-sim" --port 0 --bind 127.0.0.1 >"$tmp/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
        sim_address=$(sed -n '1s/^listening on \([0-9.:]*\).*/\1/p' "$tmp/sim.out")
        [[ -n $sim_address ]] && return 0
        sleep 0.1
    done
    fail "the installed lumora-bridge-sim did not start: $(cat "$tmp/sim.out")"
    return 1
}

# Bash completion, typed on a pty: the line TAB leaves, and for an ambiguous
# word the candidates offered (sorted, one a line).
expect_bash() { # LINE LINE_AFTER_TAB [CANDIDATES]
    local got wanted=$2
    [[ $# -gt 2 ]] && wanted+=$'\n'$3
    got=$(timeout 20 python3 "$here/bash_complete.py" \
        "$prefix/share/bash-completion/completions/lumora-ctl" "$tmp" "$1" 2>&1)
    [[ $got == "$wanted" ]] || fail "bash completion of '$1': got [$got], wanted [$wanted]"
}

# What zsh puts on the line for TAB at its end.
zsh_complete() { # PREFIX LINE
    timeout 20 zsh -f "$here/zsh_complete.zsh" "$1/$zsh_dir" "$tmp" "$2"
}

layout() {
    need cmake desktop-file-validate appstreamcli man bash python3 strings
    local stage=$tmp/stage
    prefix=$stage/opt/lumora
    DESTDIR=$stage cmake --install "$build" --prefix /opt/lumora >"$tmp/install.log" 2>&1 ||
        { fail "cmake --install failed: $(tail -5 "$tmp/install.log")"; return; }
    zsh_dir=share/zsh/site-functions # under any prefix but /usr

    local f
    for f in bin/lumora bin/lumora-ctl bin/lumora-bridge-sim \
        share/applications/io.github.lumora.Lumora.desktop share/metainfo/io.github.lumora.Lumora.metainfo.xml \
        share/icons/hicolor/scalable/apps/lumora.svg \
        share/icons/hicolor/scalable/status/lumora-lamp{0,1,2,3}{,-symbolic}.svg \
        share/lumora/site/index.html share/lumora/site/faq/index.html share/lumora/site/feedback/index.html \
        share/lumora/site/style.css share/lumora/send_debug \
        share/man/man1/{lumora,lumora-ctl,lumora-bridge-sim}.1.gz \
        share/bash-completion/completions/lumora-ctl "$zsh_dir/_lumora-ctl" \
        share/doc/lumora/copyright share/doc/lumora/changelog.gz; do
        [[ -f $prefix/$f ]] || fail "not installed: $f"
    done
    for f in bin/lumora bin/lumora-ctl bin/lumora-bridge-sim share/lumora/send_debug; do
        [[ -x $prefix/$f ]] || fail "not executable: $f"
    done
    local outside
    outside=$(find "$stage" -mindepth 1 -not -path "$prefix" -not -path "$prefix/*" -not -path "$stage/opt")
    [[ -z $outside ]] || fail "installed outside the prefix: $outside"
    # A symbolic icon is one colour, the grey icon themes recolour.
    for f in "$prefix"/share/icons/hicolor/scalable/status/*-symbolic.svg; do
        local colours
        colours=$(grep -o '#[0-9a-fA-F]\{3,6\}' "$f" | sort -u | tr '\n' ' ')
        [[ $colours == "#bebebe " ]] || fail "$(basename "$f") is not single-colour #bebebe: $colours"
    done

    # One application id everywhere: the metainfo's id, the desktop file's
    # name, the file the metainfo launches, and the name the program gives
    # the desktop (which the portal matches against the desktop file).
    local app_id=io.github.lumora.Lumora
    local desktop=$prefix/share/applications/$app_id.desktop
    desktop-file-validate "$desktop" >"$tmp/dfv" 2>&1 ||
        fail "desktop-file-validate: $(cat "$tmp/dfv")"
    for key in Categories Keywords; do
        grep -q "^$key=." "$desktop" || fail "$app_id.desktop has no $key"
    done
    grep -qx 'StartupNotify=false' "$desktop" || fail "$app_id.desktop must say StartupNotify=false"
    grep -q '^NoDisplay' "$desktop" && fail "$app_id.desktop must not hide itself"
    [[ -z $(find "$prefix/share/applications" -name '*.desktop' ! -name "$app_id.desktop") ]] ||
        fail "more than one desktop file: $(ls "$prefix/share/applications")"
    local metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
    appstreamcli validate --no-net "$metainfo" >"$tmp/asv" 2>&1 || fail "appstreamcli validate: $(cat "$tmp/asv")"
    grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $app_id.desktop"
    strings "$prefix/bin/lumora" >"$tmp/strings"
    grep -qx "$app_id" "$tmp/strings" ||
        fail "the program does not name $app_id as its desktop file"

    # The staged programs run from where they are, the newest release named
    # in the metainfo is the program's version.
    local version
    version=$("$prefix/bin/lumora" --version) || fail "lumora --version failed"
    version=${version#lumora }
    local release
    release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
    [[ $release == "$version" ]] || fail "metainfo's newest release is '$release', the program is '$version'"
    "$prefix/bin/lumora-ctl" --demo rooms >"$tmp/rooms" 2>&1 && grep -q Kitchen "$tmp/rooms" ||
        fail "staged lumora-ctl --demo rooms: $(cat "$tmp/rooms")"
    [[ -e $XDG_CACHE_HOME/lumora/names ]] && fail "a demo run wrote the names cache"

    check_page "$prefix/share/man/man1/lumora.1.gz" "$prefix/bin/lumora"
    check_page "$prefix/share/man/man1/lumora-ctl.1.gz" "$prefix/bin/lumora-ctl"
    check_page "$prefix/share/man/man1/lumora-bridge-sim.1.gz" "$prefix/bin/lumora-bridge-sim"
    [[ $(zcat "$prefix/share/man/man1/lumora.1.gz" | head -1) == *"Lumora $version"* ]] ||
        fail "the man pages do not carry the version"

    # Completion: names come from the last real read, against the staged simulator.
    start_sim "$prefix/bin" || return
    "$prefix/bin/lumora-ctl" --bridge "$sim_address" --user "$demo_user" scenes >"$tmp/scenes" 2>&1 ||
        fail "lumora-ctl scenes against the simulator: $(cat "$tmp/scenes")"
    local c="lumora-ctl"
    expect_bash "$c st" "$c status " status
    expect_bash "$c --j" "$c --json " --json
    expect_bash "$c sc" "$c scene" $'scene\nscenes'
    expect_bash "$c on Desk" "$c on Desk\\ lamp " 'Desk\ lamp'
    expect_bash "$c --bridge $sim_address off Kit" "$c --bridge $sim_address off Kitchen " Kitchen
    expect_bash "$c --bridge=$sim_address scene Mo" "$c --bridge=$sim_address scene Movie\\ night " 'Movie\ night'
    expect_bash "$c on \"Liv" "$c on \"Living room\" " 'Living room'
    expect_bash "$c bri Kitchen " "$c bri Kitchen "
    expect_bash "$c rooms Kit" "$c rooms Kit"
    expect_bash "$c all-off --in " "$c all-off --in " $'30\n5\n60'
    # Lights and rooms alike, each once.
    expect_bash "$c on Bed" "$c on Bed" $'Bedroom\nBedside\\ left\nBedside\\ right'

    if command -v zsh >/dev/null; then
        local got
        got=$(zsh_complete "$prefix" "lumora-ctl stat")
        [[ $got == "lumora-ctl status " ]] || fail "zsh completion of a command: [$got]"
        got=$(zsh_complete "$prefix" "lumora-ctl on Desk")
        [[ $got == 'lumora-ctl on Desk\ lamp ' ]] || fail "zsh completion of a light: [$got]"
        got=$(zsh_complete "$prefix" "lumora-ctl --bridge $sim_address off Kit")
        [[ $got == "lumora-ctl --bridge $sim_address off Kitchen " ]] || fail "zsh completion of a room: [$got]"
        got=$(zsh_complete "$prefix" "lumora-ctl scene Movie")
        [[ $got == 'lumora-ctl scene Movie\ night ' ]] || fail "zsh completion of a scene: [$got]"
    else
        echo "zsh is not installed: its completion is not checked"
    fi
}

package() {
    [[ $(id -u) -eq 0 ]] || skip "the package check runs as root"
    need dpkg-deb dpkg-shlibdeps cpack readelf
    # cpack stages and strips its own copy; the .deb goes to a temporary folder.
    (cd "$build" && cpack -G DEB -B "$tmp/deb") >"$tmp/cpack.log" 2>&1 ||
        { fail "cpack: $(tail -20 "$tmp/cpack.log")"; return; }
    local deb
    deb=$(ls "$tmp"/deb/lumora_*_*.deb 2>/dev/null | head -1)
    [[ -n $deb ]] || { fail "cpack made no lumora_<version>_<arch>.deb: $(ls "$tmp/deb")"; return; }

    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == *libqt6widgets6* && $depends == *libavahi-client3* && $depends == *libc6* ]] ||
        fail "Depends is not the computed runtime libraries: $depends"
    local field
    for field in Pre-Depends Depends Recommends; do
        [[ $(dpkg-deb -f "$deb" "$field") == *avahi-daemon* ]] && fail "avahi-daemon is in $field"
    done
    dpkg-deb -e "$deb" "$tmp/control"
    for f in preinst postinst prerm postrm; do
        [[ -e $tmp/control/$f ]] && grep -Eq 'systemctl|invoke-rc.d|service |update-rc.d' "$tmp/control/$f" &&
            fail "$f starts or stops a service"
    done
    local contents
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    grep -v '^\./usr/' <<<"$contents" | grep -qv '^\./$' && fail "files outside /usr: $(grep -v '^\./usr/' <<<"$contents")"
    grep -qx '\./usr/share/zsh/vendor-completions/_lumora-ctl' <<<"$contents" ||
        fail "the zsh completion is not where Debian's zsh reads it"

    # Unpacked into a throw-away root, the programs run on the system's libraries.
    local root=$tmp/root
    dpkg -x "$deb" "$root"
    for p in lumora lumora-ctl lumora-bridge-sim; do
        readelf -d "$root/usr/bin/$p" | grep -E 'RPATH|RUNPATH' | grep -q "$build" &&
            fail "$p still looks for libraries in the build tree"
        readelf -S "$root/usr/bin/$p" | grep -q '\.debug_info' && fail "$p is not stripped"
    done
    local out
    out=$("$root/usr/bin/lumora" --version 2>&1) && [[ $out == "lumora "* ]] || fail "lumora --version from the .deb: $out"
    out=$("$root/usr/bin/lumora-ctl" --demo rooms 2>&1) && [[ $out == *Kitchen* ]] ||
        fail "lumora-ctl --demo rooms from the .deb: $out"
    # The tray program comes up with its demo bridge (Qt's plugins from the
    # system, no display needed) and keeps running.
    QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/lumora" --demo >"$tmp/tray.out" 2>&1
    local rc=$?
    [[ $rc -eq 124 ]] && grep -q '^lumora: demo bridge at https://127\.0\.0\.1:' "$tmp/tray.out" ||
        fail "lumora --demo from the .deb (exit $rc): $(cat "$tmp/tray.out")"
    if command -v lintian >/dev/null; then
        lintian "$deb" >"$tmp/lintian" 2>&1
        grep -q '^E: ' "$tmp/lintian" && fail "lintian errors: $(grep '^E: ' "$tmp/lintian")"
        grep '^W: ' "$tmp/lintian"
    else
        echo "lintian is not installed: the package is not linted"
    fi
    echo "checked $(basename "$deb"): Depends: $depends"
}

case $mode in
    layout) layout ;;
    package) package ;;
    *) echo "unknown mode $mode" >&2; exit 2 ;;
esac
if ((failures)); then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all checks passed"
