#!/usr/bin/env bash
# Runs every fuzz target for longer (default 10 minutes each) and adds what
# they find to a scratch corpus beside the build. Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
case "${1:-}" in -h|--help) echo "usage: scripts/fuzz.sh [seconds per target, default 600]"; exit 0 ;; esac
cd "$(dirname "$0")/.."
seconds=${1:-600}
bash scripts/setup.sh
cmake --preset fuzz -DLUMIVO_WERROR=ON
cmake --build --preset fuzz
for target in build/fuzz/tests/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  work=build/fuzz/long/$name
  mkdir -p "$work"
  cp -n tests/fuzz/corpus/$name/* "$work"/ 2>/dev/null || true
  echo "== $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/long/ "$work"
done
echo "Crash inputs, if any, are in build/fuzz/long/ (crash-*); add each to tests/fuzz/corpus/<target>/ once fixed."
