#!/usr/bin/env bash
# The whole agent, headless, against devcloud: it starts hidden with its tray
# icon; a second copy started with -g shows its dialog; a VPN request brings
# the VPN image and the address, its end the normal look again; SIGTERM ends
# the agent through the exit command (tray icon removed) and shutdown tells
# the service.
# Usage: agent_show_gui_test.sh AGENT DEVCLOUD
set -euo pipefail
agent=$1
devcloud=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivo-ui-e2e.XXXXXX")
devcloud_pid=""
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill -KILL "$agent_pid" 2>/dev/null || true
  [ -n "$devcloud_pid" ] && kill -TERM "$devcloud_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ "${KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- trace"; cat "$work/trace" 2>/dev/null || true
  echo "--- agent"; cat "$work/agent.out" 2>/dev/null || true
  exit 1
}
# Waits up to 20 s for a line in a file.
wait_for() {
  for _ in $(seq 200); do
    grep -qxF "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no line '$2' in $1"
}

"$devcloud" --data-dir "$work/cloud" --port 0 --operator-port 0 >"$work/devcloud.out" 2>"$work/devcloud.err" &
devcloud_pid=$!
for _ in $(seq 100); do
  grep -q '^devcloud listening on' "$work/devcloud.out" 2>/dev/null && break
  sleep 0.1
done
line=$(head -n 1 "$work/devcloud.out")
port=$(sed -E 's|.*https://127\.0\.0\.1:([0-9]+)/.*|\1|' <<<"$line")
operator=$(sed -E 's|.*operator (http://[^ ]*)/.*|\1|' <<<"$line")
[ -n "$port" ] || fail "devcloud did not start"
# devcloud's operator API wants its token, and JSON, on every call.
curl() { command curl -H "Authorization: Bearer $(cat "$work/cloud/operator-token")" -H "Content-Type: application/json" "$@"; }

export LUMIVO_CONNECT_TO="localhost:8443:127.0.0.1:$port"
export LUMIVO_DEVICE_ROOT="$work/device"
export LUMIVO_RUNTIME_DIR="$work/run"
export LUMIVO_UI_TRACE="$work/trace"
# The simulated remote-access service (no file: its defaults, a dial that succeeds).
export LUMIVO_RAS_SCRIPT="$work/ras-script"
mkdir -p "$LUMIVO_DEVICE_ROOT" "$LUMIVO_RUNTIME_DIR"

# First start: the device enrols; the agent runs hidden.
"$agent" -d >"$work/agent.out" 2>&1 &
agent_pid=$!
wait_for "$work/trace" 'tray add icon 142 tip "Lumivo Runtime"'
grep -q '^dialog 802 shown' "$work/trace" && fail "the dialog was shown without -g"

second=$("$agent" -g)
[ "$second" = "App already running..." ] || fail "second copy said '$second'"
wait_for "$work/trace" "dialog 802 shown 480x272"

kill -TERM "$agent_pid"
status=0
wait "$agent_pid" || status=$?
agent_pid=""
[ "$status" -eq 0 ] || fail "agent ended with status $status"
tail -n 1 "$work/trace" | grep -qxF "tray delete" || fail "the tray icon was not removed last"
curl -s "$operator/log" | grep -q 'connections/disconnect-all' ||
  fail "shutdown did not tell the service"

# Second start: logged in, with connections and the VPN switched on.
: >"$work/trace"
"$agent" -d -c=true -n=true >"$work/agent.out" 2>&1 &
agent_pid=$!
wait_for "$work/trace" 'tray add icon 142 tip "Lumivo Runtime"'
# The operator asks for a VPN; the simulated RAS dials it on the next tick.
request=$(curl -s -X POST "$operator/devices/1/requests" \
  -d '{"url":"vpn.example.net","username":"u","password":"p","domain":"","preSharedKey":"k"}')
id=$(sed -E 's/.*"id":[[:space:]]*([0-9]+).*/\1/' <<<"$request")
[ -n "$id" ] || fail "no request made: $request"
wait_for "$work/trace" 'tray modify icon 143 tip "Lumivo Runtime"'
wait_for "$work/trace" 'button 156/1018 enabled'
grep -q '^text 156/1019 "[0-9.]*"$' "$work/trace" || fail "no VPN address shown"
# The operator ends it: the next poll lists nothing and the VPN goes.
curl -s -X DELETE "$operator/requests/$id" >/dev/null
wait_for "$work/trace" 'tray modify icon 142 tip "Lumivo Runtime"'
tail -n 3 "$work/trace" | grep -qxF 'text 156/1019 "DISCONNECTED"' || fail "address still shown"

kill -TERM "$agent_pid"
wait "$agent_pid" || fail "agent ended with status $?"
agent_pid=""
echo "PASS"
