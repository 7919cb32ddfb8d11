#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Safe to run again and again. Uses sudo only when not root.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache pkg-config
  nlohmann-json3-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libavahi-client-dev avahi-daemon avahi-utils dbus-daemon iproute2 util-linux
  libxcb1-dev libxcb-keysyms1-dev libxcb-xinput-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev
  xvfb xdotool curl
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO="sudo"

echo "Installing missing packages: ${missing[*]}"
# Never let a package start a system service (the Avahi daemon above all) on the
# machine's real interfaces: tests start their own daemons inside namespaces.
policy=/usr/sbin/policy-rc.d
had_policy=0
[[ -e $policy ]] && had_policy=1
if [[ $had_policy -eq 0 ]]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
fi
cleanup() { [[ $had_policy -eq 0 ]] && $SUDO rm -f "$policy"; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
