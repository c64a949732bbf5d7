#!/usr/bin/env bash
# Builds the benchmarks (Release, in build/bench), starts devclouds of its own
# on free loopback ports, runs every measurement in one go and prints the
# tables (Markdown), the like-for-like ratios first.
# Usage: scripts/bench.sh [repetitions, default 5] [ticks at the 5 s cadence, default 24]
set -euo pipefail
case "${1:-}" in -h|--help) echo "usage: scripts/bench.sh [repetitions, default 5] [ticks at the 5 s cadence, default 24]"; exit 0 ;; esac
cd "$(dirname "$0")/.."
repetitions=${1:-5}
cadence_ticks=${2:-24}
bash scripts/setup.sh >&2
mkdir -p build

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVO_WERROR=ON \
  -DBUILD_TESTING=OFF > build/bench-configure.log
# LUMIVO_DEVCLOUD names another devcloud binary to measure against.
devcloud=${LUMIVO_DEVCLOUD:-build/bench/devcloud/devcloud}
targets=(bench-scaling bench-transport bench-cadence agent-memory floor-memory floor-memory-debian
  openssl-memory lumivo-runtime)
[ -n "${LUMIVO_DEVCLOUD:-}" ] || targets+=(devcloud)
cmake --build build/bench -j2 --target "${targets[@]}" > build/bench-build.log

work=$(mktemp -d)
devcloud_pids=()
cleanup() {
  for pid in "${devcloud_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_devcloud NAME [options]: a devcloud of its own; sets NAME_port and
# NAME_operator_port.
start_devcloud() {
  local name=$1
  shift
  "$devcloud" --port 0 --operator-port 0 --data-dir "$work/devcloud-$name" "$@" \
    > "$work/devcloud-$name.out" 2>&1 &
  devcloud_pids+=($!)
  for _ in $(seq 100); do
    grep -q 'listening' "$work/devcloud-$name.out" 2>/dev/null && break
    sleep 0.1
  done
  local port operator_port
  port=$(grep -o 'https://127.0.0.1:[0-9]*' "$work/devcloud-$name.out" | cut -d: -f3)
  operator_port=$(grep -o 'http://127.0.0.1:[0-9]*/$' "$work/devcloud-$name.out" | cut -d: -f3 | tr -d /)
  if [ -z "$port" ] || [ -z "$operator_port" ]; then
    echo "devcloud $* did not start:" >&2
    cat "$work/devcloud-$name.out" >&2
    exit 1
  fi
  printf -v "${name}_port" %s "$port"
  printf -v "${name}_operator_port" %s "$operator_port"
}
start_devcloud main
start_devcloud noticket --tls-no-resumed-ticket
start_devcloud stateful --tls-stateful-tickets
start_devcloud both --tls-no-resumed-ticket --tls-stateful-tickets
export LUMIVO_BENCH_PORT=$main_port LUMIVO_BENCH_OPERATOR_PORT=$main_operator_port
export LUMIVO_BENCH_OPERATOR_TOKEN=$(cat "$work/devcloud-main/operator-token")

# The agent's transport and the libcurl floor, alternately, several times over.
build/bench/bench/bench-transport --benchmark_filter=Tick --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true \
  --benchmark_format=json > "$work/transport.json"
# Bytes on the wire against each of the server's resumption settings.
for server in main noticket stateful both; do
  port_var=${server}_port operator_var=${server}_operator_port
  LUMIVO_BENCH_PORT=${!port_var} LUMIVO_BENCH_OPERATOR_PORT=${!operator_var} \
    LUMIVO_BENCH_OPERATOR_TOKEN=$(cat "$work/devcloud-$server/operator-token") \
    build/bench/bench/bench-transport --benchmark_filter=Wire --benchmark_format=json \
    > "$work/wire-$server.json"
done
# The same four clients at the real cadence.
build/bench/bench/bench-cadence "$cadence_ticks" > "$work/cadence.jsonl"
build/bench/bench/bench-scaling --benchmark_format=json > "$work/scaling.json"
# Each client alone in its process for the memory figures.
mkdir -p "$work/device"
LUMIVO_DEVICE_ROOT="$work/device" LUMIVO_RUNTIME_DIR="$work/device" \
  build/bench/bench/agent-memory 1000 > "$work/memory.jsonl"
for client in floor-memory floor-memory-debian openssl-memory; do
  build/bench/bench/$client 1000 >> "$work/memory.jsonl"
done
agent=build/bench/platform/posix/lumivo-runtime
strip -o "$work/agent-stripped" "$agent"
{
  echo "{\"size\":$(stat -c %s "$agent"),\"strippedSize\":$(stat -c %s "$work/agent-stripped"),"
  echo "\"libraries\":\"$(ldd "$agent" | awk '{print $1}' | tr '\n' ' ')\"}"
} > "$work/binary.json"

python3 - "$work" "$repetitions" "$cadence_ticks" <<'EOF'
import json, os, platform, re, subprocess, sys

work, repetitions, cadence_ticks = sys.argv[1], sys.argv[2], sys.argv[3]
def load(name):
    return json.load(open(os.path.join(work, name)))
def lines(name):
    return [json.loads(line) for line in open(os.path.join(work, name)) if line.strip()]
transport = load("transport.json")
scaling = load("scaling.json")
cadence = {c["client"]: c for c in lines("cadence.jsonl")}
memory = lines("memory.jsonl")
binary = load("binary.json")
servers = [("main", "as configured (stateless tickets, a new ticket on every connection)"),
           ("noticket", "--tls-no-resumed-ticket"),
           ("stateful", "--tls-stateful-tickets"),
           ("both", "--tls-no-resumed-ticket --tls-stateful-tickets")]
wire = {}
for server, _ in servers:
    for b in load(f"wire-{server}.json")["benchmarks"]:
        m = re.match(r"(Agent|Floor)Wire/([01])/", b.get("run_name", ""))
        if m:
            wire[(server, m.group(1), m.group(2) == "1")] = b

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

print("## Like for like: the agent's CPU per tick against the floor's, same TLS session policy\n")
print("| Run | TLS sessions (both) | Agent CPU ms | Floor CPU ms | Ratio |")
print("|---|---|---:|---:|---:|")
for run, a, f, label in [
        ("real 5 s cadence", cadence["AgentResumed"]["cpuMsMedian"], cadence["FloorResumed"]["cpuMsMedian"], "resumed"),
        ("real 5 s cadence", cadence["AgentFull"]["cpuMsMedian"], cadence["FloorFull"]["cpuMsMedian"], "full handshakes"),
        ("tight loop", ms(agent_resumed, "cpu_time"), ms(floor_resumed, "cpu_time"), "resumed"),
        ("tight loop", ms(agent_full, "cpu_time"), ms(floor_full, "cpu_time"), "full handshakes")]:
    print(f"| {run} | {label} | {a:.2f} | {f:.2f} | **{a / f:.2f}** |")
print(f"\nCadence: {cadence['AgentResumed']['ticks']} ticks of each client, each client once every 5 s, "
      "a quarter period apart, agent and floor of a pair taking turns to go first; on-CPU time of the process around each tick, medians. "
      f"Tight loop: ticks back to back, medians of {repetitions} interleaved repetitions.\n")

cpu = platform.processor() or "?"
for line in open("/proc/cpuinfo"):
    if line.startswith("model name"):
        cpu = line.split(":", 1)[1].strip()
        break
load_avg = open("/proc/loadavg").read().split()[:3]
print("## Machine\n")
print(f"- CPU: {cpu}, {os.cpu_count()} cores (shared); load average at the end {' '.join(load_avg)}")
print(f"- {platform.system()} {platform.release()}; OpenSSL {subprocess.run(['openssl', 'version'], capture_output=True, text=True).stdout.split()[1]}")
print(f"- Release build (build/bench); devcloud on loopback\n")

print("## One tick in the tight loop, CPU and wall time\n")
print("A tick is one poll (POST connections/check-requests) and one heart-beat "
      "(GET devices/ID/heart-beat), each on its own connection. CPU is the whole "
      "process's; wall time includes devcloud's work. Floor: a minimal client over "
      "the same libcurl, no certificate check.\n")
print("| Agent | Floor | Agent CPU ms | Floor CPU ms | CPU ratio | Agent wall ms | Floor wall ms | Wall ratio |")
print("|---|---|---:|---:|---:|---:|---:|---:|")
def row(a, f, an, fn):
    ac, fc = ms(a, "cpu_time"), ms(f, "cpu_time")
    aw, fw = ms(a, "real_time"), ms(f, "real_time")
    print(f"| {an} | {fn} | {ac:.2f} | {fc:.2f} | **{ac / fc:.2f}** | {aw:.2f} | {fw:.2f} | **{aw / fw:.2f}** |")
row(agent_resumed, floor_resumed, "sessions resumed", "sessions resumed")
row(agent_full, floor_full, "full handshakes", "full handshakes")
row(agent_resumed, floor_full, "sessions resumed", "full handshakes (measures resumption, not the agent)")

print("\n## Resident memory, each client alone in its process (1000 ticks)\n")
print("All four make the same two requests per tick against the same devcloud, sessions resumed, "
      "and are linked alike (C++ runtime static, unused sections dropped). The agent is the whole "
      "agent (its VPN up, dialog, adapters) with its certificate check; the others check nothing.\n")
names = {"agent": "agent (its own libcurl)", "floor": "floor: minimal libcurl client, the agent's libcurl",
         "floor-debian": "floor over Debian's shared libcurl", "openssl": "plain OpenSSL client"}
checkpoints = {}
mappings = {}
for m in memory:
    if "mappings" in m:
        mappings[m["client"]] = m["mappings"]
    else:
        checkpoints.setdefault(m["client"], {})[m["ticks"]] = m
openssl_peak = max(c["peakRssKb"] for c in checkpoints["openssl"].values())
print("| Client | Peak RSS kB after 10 ticks | Peak RSS kB after 1000 | RSS kB after 1000 | Against the plain OpenSSL client |")
print("|---|---:|---:|---:|---:|")
for client in ["agent", "floor", "floor-debian", "openssl"]:
    c = checkpoints[client]
    first, last = c[min(c)], c[max(c)]
    print(f"| {names[client]} | {first['peakRssKb']} | {last['peakRssKb']} | {last['rssKb']} | "
          f"{last['peakRssKb'] - openssl_peak:+d} kB |")

print("\n## Where the resident memory is (kB, after 1000 ticks)\n")
clients = ["agent", "floor", "floor-debian", "openssl"]
print("| Mapping | " + " | ".join(names[c] for c in clients) + " |")
print("|---|" + "---:|" * len(clients))
def group(name, client):
    if name == clients_exe.get(client):
        return "the executable"
    return name
clients_exe = {"agent": "agent-memory", "floor": "floor-memory", "floor-debian": "floor-memory-debian",
               "openssl": "openssl-memory"}
table = {}
for client in clients:
    for name, kb in mappings.get(client, {}).items():
        name = group(name, client)
        if name.startswith("[v"):
            continue
        table.setdefault(name, {}).setdefault(client, 0)
        table[name][client] += kb
others = {c: 0 for c in clients}
for name in sorted(table, key=lambda n: -max(table[n].values())):
    if max(table[name].values()) < 64 and name not in ("libcjson.so.1.7.15",):
        for c, kb in table[name].items():
            others[c] += kb
        continue
    print(f"| {name} | " + " | ".join(str(table[name].get(c, "")) for c in clients) + " |")
print("| everything else | " + " | ".join(str(others[c]) for c in clients) + " |")
print("| total | " + " | ".join(str(sum(v for n, v in mappings.get(c, {}).items())) for c in clients) + " |")

print("\n## The agent's binary\n")
print(f"- lumivo-runtime: {binary['size'] / 1024:.0f} KiB, stripped {binary['strippedSize'] / 1024:.0f} KiB "
      "(C++ runtime and libcurl inside)")
print(f"- shared libraries (ldd): {binary['libraries'].strip()}\n")

print("## Bytes on the wire per tick (loopback relay), by the server's resumption setting\n")
print("| Server | Client | TLS sessions | Up bytes | Down bytes | Total bytes | Connections per tick | Resumed / full |")
print("|---|---|---|---:|---:|---:|---:|---:|")
for server, label in servers:
    for client in ["Agent", "Floor"]:
        for resumed in [True, False]:
            b = wire.get((server, client, resumed))
            if b is None:
                continue
            full = wire.get((server, client, False))
            ratio = f"{b['wireBytesPerTick'] / full['wireBytesPerTick'] * 100:.0f} %" if resumed and full else ""
            print(f"| {label} | {client.lower()} | {'resumed' if resumed else 'full handshakes'} | "
                  f"{b['upBytesPerTick']:.0f} | {b['downBytesPerTick']:.0f} | "
                  f"{b['wireBytesPerTick']:.0f} | {b['connectionsPerTick']:.0f} | {ratio} |")
main_on = wire[("main", "Agent", True)]["wireBytesPerTick"]
main_off = wire[("main", "Agent", False)]["wireBytesPerTick"]
best, best_label = min((wire[(server, "Agent", True)]["wireBytesPerTick"], label)
                       for server, label in servers if (server, "Agent", True) in wire)
print(f"\nResumption saves the agent {main_off - main_on:.0f} bytes per tick "
      f"({(main_off - main_on) / main_off * 100:.0f} %), {(main_off - main_on) * 86400 / 5 / 1e6:.1f} MB a day "
      f"at one tick every 5 s: a resumed tick is {main_on / main_off * 100:.0f} % of a full one. "
      f"The server's settings take the resumed tick to {best:.0f} bytes at best ({best_label}), "
      f"{best - main_on:+.0f} bytes, {best / main_off * 100:.0f} % of a full tick as the server is configured.")

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
    print(f"| {labels[base]} | O(N) | {fit['coef']:.0f} ns | {fit['rms']:.0f} % |")
EOF
