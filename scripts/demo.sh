#!/usr/bin/env bash
# Builds everything, starts devcloud on this machine and runs the agent with
# "-d" against it: the first start enrols the device and writes its settings
# file, then the agent sends a heart-beat every 5 s; the second start logs in.
#
# Everything lives in a temporary folder that is removed at the end (set
# KEEP=1 to keep it). AGENT_SECONDS sets how long each run lasts (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev -DLUMIVO_WERROR=ON >/dev/null
cmake --build --preset dev

agent=build/dev/platform/posix/lumivo-runtime
devcloud=${DEVCLOUD:-build/dev/devcloud/devcloud}
seconds=${AGENT_SECONDS:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivo-demo.XXXXXX")
devcloud_pid=""

cleanup() {
  if [ -n "$devcloud_pid" ]; then kill -TERM "$devcloud_pid" 2>/dev/null || true; wait "$devcloud_pid" 2>/dev/null || true; fi
  if [ "${KEEP:-0}" = 1 ]; then echo "Kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

section() { printf '\n=== %s\n' "$*"; }

# devcloud on free loopback ports; it prints one line saying where it listens.
section "Starting devcloud (data in $work/cloud)"
"$devcloud" --data-dir "$work/cloud" --port 0 --operator-port 0 >"$work/devcloud.out" 2>"$work/devcloud.err" &
devcloud_pid=$!
for _ in $(seq 100); do
  grep -q '^devcloud listening on' "$work/devcloud.out" 2>/dev/null && break
  kill -0 "$devcloud_pid" 2>/dev/null || { cat "$work/devcloud.err"; exit 1; }
  sleep 0.1
done
line=$(head -n 1 "$work/devcloud.out")
echo "$line"
port=$(sed -E 's|.*https://127\.0\.0\.1:([0-9]+)/.*|\1|' <<<"$line")
operator=$(sed -E 's|.*operator (http://[^ ]*)/.*|\1|' <<<"$line")

# The agent keeps its built-in service URL (https://localhost:8443/api/); the
# POSIX Internet port sends those requests to devcloud's free port instead.
export LUMIVO_CONNECT_TO="localhost:8443:127.0.0.1:$port"
export LUMIVO_DEVICE_ROOT="$work/device"
export LUMIVO_RUNTIME_DIR="$work/run"
mkdir -p "$LUMIVO_DEVICE_ROOT" "$LUMIVO_RUNTIME_DIR"

# Each console line of the agent, prefixed with the seconds since it started.
stamp() {
  local start=$SECONDS
  while IFS= read -r line; do printf '[%3ss] %s\n' "$((SECONDS - start))" "$line"; done
}

# Runs the agent with -d for a while, then ends it with SIGTERM (a clean shutdown).
run_agent() {
  "$agent" -d > >(stamp) &
  local pid=$!
  sleep "$seconds"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  sleep 0.2  # let the last stamped lines out
}

section "First start: no settings file, so the device enrols; then a heart-beat every 5 s (${seconds} s)"
run_agent

section "The settings file \\BOOT\\env.json ($LUMIVO_DEVICE_ROOT/BOOT/env.json)"
cat "$LUMIVO_DEVICE_ROOT/BOOT/env.json"
echo

section "Second start: the stored id and password log in (${seconds} s)"
run_agent

section "What devcloud received"
curl -s "$operator/log" | python3 -c '
import json, sys
for entry in json.load(sys.stdin):
    print(entry["method"], entry["path"])'
section "The device as devcloud sees it"
curl -s "$operator/devices"
echo
