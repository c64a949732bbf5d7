#!/usr/bin/env bash
# Installs the Debian packages that a script needs, only the ones that are
# missing. Safe to run again.
#   scripts/setup.sh demo   what the agent and devcloud need to build and run
#                           (scripts/demo.sh)
#   scripts/setup.sh        that and what every build and test needs: the cross
#                           builds, Wine, Chromium, the packaging tools, ...
set -euo pipefail

case "${1:-all}" in
  demo|all) ;;
  -h|--help) echo "usage: scripts/setup.sh [demo]"; exit 0 ;;
  *) echo "usage: scripts/setup.sh [demo]" >&2; exit 2 ;;
esac

# The agent (its libcurl is built from Debian's curl source: dpkg-dev unpacks
# it) and devcloud, and what the demo itself calls.
packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  libcjson-dev libssl-dev libcpp-httplib-dev libsqlite3-dev
  curl python3
)
if [ "${1:-all}" = all ]; then
  packages+=(
    clang lld libclang-rt-14-dev
    libcurl4-openssl-dev libgtest-dev libgmock-dev libbenchmark-dev openssl
    mingw-w64 wine64 xvfb imagemagick valgrind
    xdotool fonts-roboto-unhinted
    chromium chromium-driver python3-selenium python3-jsonschema
    libsystemd-dev systemd lintian nsis
    libgtk-3-dev python3-gi dbus-daemon
    # the real VPN (NetworkManager) and its test in an emulated machine
    network-manager network-manager-l2tp
    qemu-system-x86 qemu-system-arm busybox-static strongswan-charon strongswan-swanctl
    xl2tpd ppp iptables iputils-ping kmod
    g++-arm-linux-gnueabihf qemu-user
    libc6:armhf libstdc++6:armhf libcurl4-openssl-dev:armhf libssl-dev:armhf
    # Python's armhf standard library for the tests in the emulated ARM machine
    libpython3-stdlib:armhf libexpat1:armhf zlib1g:armhf
  )
fi

# The 32-bit ARM build takes the POSIX adapters' libraries from Debian's armhf
# architecture.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ "${1:-all}" = all ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $sudo dpkg --add-architecture armhf
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# devcloud's API description is linted with Redocly CLI, from npm (Node.js
# comes from Debian when the machine has none). The tests only.
if [ "${1:-all}" = all ]; then
  if ! command -v npm >/dev/null; then
    $sudo apt-get update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends nodejs npm
  fi
  if [ "$(redocly --version 2>/dev/null | tail -n 1)" != 2.77.0 ]; then
    $sudo npm install -g --no-fund --no-audit @redocly/cli@2.77.0
  fi
fi
