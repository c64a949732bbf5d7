#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, only the
# ones that are missing. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang lld libclang-rt-14-dev
  libcjson-dev libcurl4-openssl-dev libssl-dev libgtest-dev libgmock-dev
  libbenchmark-dev libcpp-httplib-dev libsqlite3-dev openssl curl
  mingw-w64 wine64 xvfb imagemagick python3 dpkg-dev valgrind
  xdotool fonts-roboto-unhinted
  chromium chromium-driver python3-selenium python3-jsonschema
  libsystemd-dev systemd lintian nsis
  g++-arm-linux-gnueabihf qemu-user
  # the real VPN (NetworkManager) and its test in an emulated machine
  network-manager network-manager-l2tp
  qemu-system-x86 qemu-system-arm busybox-static strongswan-charon strongswan-swanctl xl2tpd ppp iptables
  iputils-ping kmod
  libc6:armhf libstdc++6:armhf libcurl4-openssl-dev:armhf libssl-dev:armhf
)

# The 32-bit ARM build takes the POSIX adapters' libraries from Debian's armhf
# architecture.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
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
