#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Safe to run again and again. Uses sudo only when not root.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  nlohmann-json3-dev libcpp-httplib-dev libssl-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libavahi-client-dev libdbus-1-dev avahi-daemon avahi-utils dbus-daemon iproute2 util-linux
  libxcb1-dev libxcb-keysyms1-dev libxcb-xinput-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev
  xvfb xdotool curl wrk clang-format
  clang libclang-rt-14-dev
  dbus-bin trayer python3-dbus python3-gi at-spi2-core python3-pyatspi
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev imagemagick hyperfine
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  desktop-file-utils appstream man-db dpkg-dev file lintian zsh
  sway waybar grim xwayland
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  SUDO="sudo"
fi

echo "Installing missing packages: ${missing[*]}"
# Never let a package start a system service (the Avahi daemon above all) on the
# machine's real interfaces: tests start their own daemons inside namespaces.
# A refusing policy-rc.d stands in for the time of the install; a policy the
# machine already had is set aside and put back exactly as it was, never removed.
policy=/usr/sbin/policy-rc.d
saved=/usr/sbin/policy-rc.d.lumora-saved
if [[ -e $saved ]]; then
  # An earlier run was killed before it could put the machine's policy back.
  $SUDO mv -f "$saved" "$policy"
fi
had_policy=0
if [[ -e $policy ]]; then
  had_policy=1
  $SUDO cp -p "$policy" "$saved"
fi
restore_policy() {
  if [[ $had_policy -eq 1 ]]; then
    $SUDO mv -f "$saved" "$policy"
  else
    $SUDO rm -f "$policy"
  fi
}
printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy.lumora-new" >/dev/null
$SUDO chmod 755 "$policy.lumora-new"
$SUDO mv -f "$policy.lumora-new" "$policy"
trap restore_policy EXIT

export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
