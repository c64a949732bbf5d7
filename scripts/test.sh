#!/usr/bin/env bash
# Builds everything and runs every test: unit, integration and end-to-end
# (dev preset), the fuzz targets' smoke runs (fuzz preset).
set -euo pipefail
case "${1:-}" in -h|--help) echo "usage: scripts/test.sh"; exit 0 ;; esac
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset dev -DLUMIVO_WERROR=ON
cmake --build --preset dev
ctest --preset dev

cmake --preset fuzz -DLUMIVO_WERROR=ON
cmake --build --preset fuzz
ctest --preset fuzz

# Windows build (mingw-w64), its tests under Wine and Xvfb (label "wine").
cmake --preset win32 -DLUMIVO_WERROR=ON
cmake --build --preset win32
ctest --preset win32

# The board's word size: 32-bit ARM Linux under qemu-arm (core, POSIX adapters
# and their tests), and 32-bit Windows, which links but cannot run here.
cmake --preset arm32 -DLUMIVO_WERROR=ON
cmake --build --preset arm32
ctest --preset arm32
cmake --preset win32-i686
cmake --build --preset win32-i686

# The board itself, compile-only: every source of the board's code for
# Windows Embedded Compact 7 on ARM, as C++03 against the stand-in headers
# (platform/win32/ce7), with the Compact size checks.
cmake --preset wince
cmake --build --preset wince
# The real VPN in an emulated machine (label "vm"), after everything else:
# emulation takes a whole core.
ctest --preset vm
# The arm32 tests that start ARM programs as children, in an emulated ARM
# machine (label "vm-arm").
ctest --preset vm-arm
