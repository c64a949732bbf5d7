#!/usr/bin/env bash
# Builds everything and runs every test: unit, integration and end-to-end
# (dev preset), the fuzz targets' smoke runs (fuzz preset).
set -euo pipefail
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
