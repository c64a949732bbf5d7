#!/usr/bin/env bash
# Builds everything and runs every test (unit, integration, end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset dev -DLUMIVO_WERROR=ON
cmake --build --preset dev
ctest --preset dev
