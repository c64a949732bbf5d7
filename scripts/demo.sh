#!/usr/bin/env bash
# Builds the agent and devcloud, starts devcloud on this machine and runs the agent with
# "-d" against it: the first start enrols the device and writes its settings
# file, then the agent sends a heart-beat every 5 s; the second start logs in;
# a third start answers a VPN request that devcloud's operator created, over
# the simulated remote-access service, until the operator ends it.
#
# devcloud's console (a web page on its operator side) shows all of it live;
# the demo prints its address at the start. With --keep, devcloud and a last
# agent run stay up at the end until Ctrl-C, so the console can be tried by
# hand: create a VPN request there and watch the agent answer it.
#
# Everything lives in a temporary folder that is removed at the end (set
# KEEP=1 to keep it). AGENT_SECONDS sets how long each run lasts (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

keep_running=0
for arg in "$@"; do
  case "$arg" in
    --keep) keep_running=1 ;;
    -h|--help) echo "usage: scripts/demo.sh [--keep]"; exit 0 ;;
    *) echo "scripts/demo.sh: unknown option $arg (usage: scripts/demo.sh [--keep])" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh demo
# Only the two programs the demo runs, in a build folder of their own.
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DLUMIVO_BUILD_BENCH=OFF >/dev/null
cmake --build build/demo --target lumivo-runtime devcloud

agent=build/demo/platform/posix/lumivo-runtime
devcloud=${DEVCLOUD:-build/demo/devcloud/devcloud}
seconds=${AGENT_SECONDS:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivo-demo.XXXXXX")
devcloud_pid=""
agent_pid=""

cleanup() {
  if [ -n "$agent_pid" ]; then kill -TERM "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
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
console="$operator/?token=$(cat "$work/cloud/operator-token")"
echo "Console: $console (open it in a browser to watch what follows)"
# devcloud's operator API wants its token, and JSON, on every call.
curl() { command curl -H "Authorization: Bearer $(cat "$work/cloud/operator-token")" -H "Content-Type: application/json" "$@"; }

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

# ---- Remote connections: a VPN round trip over the simulated RAS ----
# The demo asks for the simulated remote-access service (docs/vpn-simulation.md),
# whose outcomes this file scripts; without LUMIVO_RAS_SCRIPT the agent would
# dial a real L2TP/IPsec VPN through NetworkManager (docs/vpn-linux.md).
device_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["id"])' "$LUMIVO_DEVICE_ROOT/BOOT/env.json")
export LUMIVO_RAS_SCRIPT="$work/ras-script"
printf 'address=10.99.0.2\n' >"$LUMIVO_RAS_SCRIPT"
curl -s -X DELETE "$operator/log" >/dev/null

section "VPN: the operator sets the connections password and asks device $device_id for a VPN"
curl -s -X PUT -d '{"password":"demo"}' "$operator/devices/$device_id/connections-password" >/dev/null
request=$(curl -s -X POST \
  -d '{"type":"vpn","url":"vpn.example.net","username":"dev","password":"pw","domain":"CORP","preSharedKey":"psk"}' \
  "$operator/devices/$device_id/requests" | python3 -c 'import json,sys; print(json.load(sys.stdin)["id"])')
echo "request $request created"

section "VPN: the agent with connections and VPN on (-c -n -p=demo) answers it"
"$agent" -d -c -n -p=demo &
agent_pid=$!
show_request() {
  curl -s "$operator/requests" | python3 -c '
import json, sys
for r in json.load(sys.stdin):
    if r["id"] == int(sys.argv[1]):
        answer = r["answer"] or {}
        print("request", r["id"], "status", r["status"], "serverIp", answer.get("serverIp"),
              "networkInterfaces", json.dumps(answer.get("networkInterfaces")))
        sys.exit(0 if r["status"] == sys.argv[2] else 1)
sys.exit(1)' "$request" "$1"
}
for _ in $(seq 30); do
  show_request vpn-created >/dev/null && break
  sleep 0.5
done
section "VPN: what devcloud holds for the request"
show_request vpn-created || true
sleep 6

section "VPN: the operator ends the request; the agent's next poll tears the VPN down"
curl -s -X DELETE "$operator/requests/$request" >/dev/null
sleep 6
kill -TERM "$agent_pid" 2>/dev/null || true
wait "$agent_pid" || true
agent_pid=""

section "VPN: what devcloud received"
curl -s "$operator/log" | python3 -c '
import json, sys
for entry in json.load(sys.stdin):
    print(entry["method"], entry["path"], entry["body"][:60].replace("\n", " ") if entry["method"] == "PUT" else "")'

if [ "$keep_running" = 1 ]; then
  section "devcloud keeps running, and the agent with it (-c -n -p=demo)"
  "$agent" -d -c -n -p=demo > >(stamp) &
  agent_pid=$!
  echo "Console: $console"
  echo "Create a VPN request for device $device_id there, watch it become vpn-created, end it."
  echo "Ctrl-C ends devcloud and the agent."
  trap 'echo; exit 0' INT TERM
  wait "$devcloud_pid" || true
fi
