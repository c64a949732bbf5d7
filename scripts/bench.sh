#!/usr/bin/env bash
# Builds the benchmarks (Release, in build/bench), starts a devcloud of its own
# on free loopback ports, runs every measurement in one go and prints one
# table (Markdown). Usage: scripts/bench.sh [repetitions, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
repetitions=${1:-5}
bash scripts/setup.sh >&2
mkdir -p build

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVO_WERROR=ON \
  -DBUILD_TESTING=OFF > build/bench-configure.log
# LUMIVO_DEVCLOUD names another devcloud binary to measure against.
devcloud=${LUMIVO_DEVCLOUD:-build/bench/devcloud/devcloud}
targets=(bench-scaling bench-transport agent-memory)
[ -n "${LUMIVO_DEVCLOUD:-}" ] || targets+=(devcloud)
cmake --build build/bench -j2 --target "${targets[@]}" > build/bench-build.log

work=$(mktemp -d)
devcloud_pid=
cleanup() {
  if [ -n "$devcloud_pid" ]; then kill "$devcloud_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$devcloud" --port 0 --operator-port 0 --data-dir "$work/devcloud" \
  > "$work/devcloud.out" 2>&1 &
devcloud_pid=$!
for _ in $(seq 100); do
  grep -q 'listening' "$work/devcloud.out" 2>/dev/null && break
  sleep 0.1
done
port=$(grep -o 'https://127.0.0.1:[0-9]*' "$work/devcloud.out" | cut -d: -f3)
operator_port=$(grep -o 'http://127.0.0.1:[0-9]*/$' "$work/devcloud.out" | cut -d: -f3 | tr -d /)
if [ -z "$port" ] || [ -z "$operator_port" ]; then
  echo "devcloud did not start:" >&2
  cat "$work/devcloud.out" >&2
  exit 1
fi
export LUMIVO_BENCH_PORT=$port LUMIVO_BENCH_OPERATOR_PORT=$operator_port

# The agent's transport and the libcurl floor, alternately, several times over.
build/bench/bench/bench-transport --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_format=json \
  > "$work/transport.json"
build/bench/bench/bench-scaling --benchmark_format=json > "$work/scaling.json"
mkdir -p "$work/device"
LUMIVO_DEVICE_ROOT="$work/device" LUMIVO_RUNTIME_DIR="$work/device" \
  build/bench/bench/agent-memory 1000 > "$work/memory.jsonl"

python3 - "$work" "$repetitions" <<'EOF'
import json, os, platform, re, subprocess, sys

work, repetitions = sys.argv[1], sys.argv[2]
transport = json.load(open(os.path.join(work, "transport.json")))
scaling = json.load(open(os.path.join(work, "scaling.json")))
memory = [json.loads(line) for line in open(os.path.join(work, "memory.jsonl"))]

def median(name):
    for b in transport["benchmarks"]:
        if b.get("run_name") == name and b.get("aggregate_name") == "median":
            return b
    sys.exit("missing " + name + " in the transport results")

def ms(b, key):  # per tick, in ms
    return b[key] if b["time_unit"] == "ms" else b[key] / 1e6

agent_resumed = median("AgentTick/1/process_time/real_time")
agent_full = median("AgentTick/0/process_time/real_time")
floor_resumed = median("FloorTick/1/process_time/real_time")
floor_full = median("FloorTick/0/process_time/real_time")

cpu = platform.processor() or "?"
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        cpu = line.split(":", 1)[1].strip()
        break
curl = subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout.split("\n")[0]
load = open("/proc/loadavg").read().split()[:3]

print("## Machine\n")
print(f"- CPU: {cpu}, {os.cpu_count()} cores (shared); load average at the start {' '.join(load)}")
print(f"- {platform.system()} {platform.release()}; {curl}")
print(f"- Release build (build/bench); devcloud on loopback; {repetitions} repetitions, medians\n")

print("## One tick against devcloud: the agent's transport beside the libcurl floor\n")
print("A tick is one poll (POST connections/check-requests) and one heart-beat "
      "(GET devices/ID/heart-beat), each on its own connection. CPU is the whole "
      "process's; wall time includes devcloud's work.\n")
print("| Agent | Floor (libcurl, no certificate check) | Agent CPU ms | Floor CPU ms | CPU ratio | Agent wall ms | Floor wall ms | Wall ratio |")
print("|---|---|---:|---:|---:|---:|---:|---:|")
def row(a, f, an, fn):
    ac, fc = ms(a, "cpu_time"), ms(f, "cpu_time")
    aw, fw = ms(a, "real_time"), ms(f, "real_time")
    print(f"| {an} | {fn} | {ac:.2f} | {fc:.2f} | **{ac / fc:.2f}** | {aw:.2f} | {fw:.2f} | **{aw / fw:.2f}** |")
row(agent_resumed, floor_full, "as shipped (sessions resumed)", "minimal (full handshakes)")
row(agent_resumed, floor_resumed, "sessions resumed", "sessions resumed")
row(agent_full, floor_full, "full handshakes", "full handshakes")

print("\n## Bytes on the wire per tick (loopback relay)\n")
print("| Client | TLS sessions | Up bytes | Down bytes | Total bytes | Connections per tick |")
print("|---|---|---:|---:|---:|---:|")
wire = {}
for b in transport["benchmarks"]:
    m = re.match(r"(Agent|Floor)Wire/([01])/", b.get("run_name", ""))
    if m and b.get("aggregate_name") == "median":
        wire[(m.group(1), m.group(2))] = b
for key in [("Agent", "1"), ("Agent", "0"), ("Floor", "1"), ("Floor", "0")]:
    if key in wire:
        b = wire[key]
        print(f"| {'agent' if key[0] == 'Agent' else 'floor'} | "
              f"{'resumed' if key[1] == '1' else 'full handshakes'} | "
              f"{b['upBytesPerTick']:.0f} | {b['downBytesPerTick']:.0f} | "
              f"{b['wireBytesPerTick']:.0f} | {b['connectionsPerTick']:.0f} |")
if ("Agent", "1") in wire and ("Agent", "0") in wire:
    on, off = wire[("Agent", "1")]["wireBytesPerTick"], wire[("Agent", "0")]["wireBytesPerTick"]
    print(f"\nResumption saves the agent {off - on:.0f} bytes per tick ({(off - on) / off * 100:.0f} %), "
          f"{(off - on) * 86400 / 5 / 1e6:.1f} MB a day at one tick every 5 s.")

print("\n## Scaling (in-memory ports, one call)\n")
print("| Work | N | Time µs | µs per item |")
print("|---|---:|---:|---:|")
labels = {"PollListingCreated": "poll listing N \"vpn-created\" requests",
          "PollListingNewRequests": "poll listing N new requests, each answered",
          "InterfaceReport": "interface report of N adapters, printed"}
bigo = {}
for b in scaling["benchmarks"]:
    name = b["name"]
    base = name.split("/")[0].replace("_BigO", "").replace("_RMS", "")
    if name.endswith("_BigO"):
        bigo.setdefault(base, {})["coef"] = b["cpu_coefficient"]
    elif name.endswith("_RMS"):
        bigo.setdefault(base, {})["rms"] = b["rms"] * 100
    else:
        n = int(name.split("/")[1])
        t = b["cpu_time"] / (1e3 if b["time_unit"] == "ns" else 1)
        print(f"| {labels[base]} | {n} | {t:.1f} | {t / n:.3f} |")
print("\n| Work | Fit | Cost per item | RMS of the linear fit |")
print("|---|---|---:|---:|")
for base, fit in bigo.items():
    unit = "ns"
    print(f"| {labels[base]} | O(N) | {fit['coef']:.0f} {unit} | {fit['rms']:.0f} % |")

print("\n## Resident memory of the whole agent (VPN up, one round of both timers per tick)\n")
print("| Ticks | RSS kB | Peak RSS kB |")
print("|---:|---:|---:|")
for m in memory:
    print(f"| {m['ticks']} | {m['rssKb']} | {m['peakRssKb']} |")
EOF
