#!/usr/bin/env bash
# The long soak: the real agent binary against devcloud for an hour (or the
# seconds given), its resident memory sampled every 5 s, then the short soak
# over the fakes under valgrind. Usage: scripts/soak.sh [seconds, default 3600]
set -euo pipefail
case "${1:-}" in -h|--help) echo "usage: scripts/soak.sh [seconds, default 3600]"; exit 0 ;; esac
cd "$(dirname "$0")/.."
seconds=${1:-3600}
bash scripts/setup.sh
cmake --preset dev -DLUMIVO_WERROR=ON > /dev/null
cmake --build --preset dev --target soak-binary-tests soak-fakes-tests devcloud lumivo-runtime
echo "== the agent binary against devcloud for ${seconds} s"
LUMIVO_SOAK_SECONDS=$seconds build/dev/tests/soak/soak-binary-tests
echo "== 50000 rounds over the fakes under valgrind"
LUMIVO_SOAK_ROUNDS=50000 valgrind --quiet --suppressions=tests/soak/valgrind.supp \
  --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
  --error-exitcode=1 build/dev/tests/soak/soak-fakes-tests
