// One tick's requests (a heart-beat and a poll) against devcloud, through the
// agent's own transport over libcurl and through a minimal libcurl client (the
// floor), side by side in one run; and the bytes each puts on the wire, with
// and without TLS session resumption. The service's HTTPS port comes from
// LUMIVO_BENCH_PORT, its operator port from LUMIVO_BENCH_OPERATOR_PORT
// (scripts/bench.sh starts devcloud and sets both).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/agent.h"
#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "bench/curl_floor.h"
#include "bench/operator_call.h"
#include "bench/wire_counter.h"
#include "cloud/enrolment.h"
#include "cloud/heart_beat.h"
#include "cloud/transport.h"
#include "connections/polling.h"
#include "fakes/fake_files.h"
#include "platform/posix/internet_curl.h"

namespace lumivo::bench {
namespace {

int EnvPort(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : 0;
}
int ServicePort() { return EnvPort("LUMIVO_BENCH_PORT"); }

// devcloud keeps a log of every request; each run starts it afresh, so that no
// run pays for the log of the runs before it.
void ClearServiceLog() {
    const int port = EnvPort("LUMIVO_BENCH_OPERATOR_PORT");
    if (port != 0) OperatorCall(port, "DELETE", "/log");
}

// Empty host and port parts match the base URL, whatever it names.
std::string ConnectTo(int port) { return "::127.0.0.1:" + std::to_string(port); }

// An agent enrolled with the service, over the libcurl Internet port.
struct EnrolledAgent {
    EnrolledAgent(int port, bool resumeTlsSessions)
        : internet(CurlTimeouts{}, ConnectTo(port), resumeTlsSessions) {
        ClearServiceLog();
        agent.ports.internet = &internet;
        agent.ports.files = &files;
        SetDebugOutput(false);
        enrolled = EnrolDevice(agent);
        agent.settings.connectionsEnabled = true;
    }
    // The agent's console lines are dropped while it runs; the report needs standard output.
    ~EnrolledAgent() { SetDebugOutput(true); }
    EnrolledAgent(const EnrolledAgent&) = delete;
    EnrolledAgent& operator=(const EnrolledAgent&) = delete;
    // The agent's own connection tick (no VPN is up) and heart-beat tick.
    void Tick() {
        CheckConnectionRequests(agent);
        OnHeartBeatTimer(agent);
    }
    bool Answers() {
        int status = 0;
        std::string reply;
        SendRequest(agent, "POST", "connections/check-requests", "password=", status, reply);
        return status == 200;
    }

    FakeFiles files;
    CurlInternet internet;
    Agent agent;
    bool enrolled = false;
};

// The floor makes the same two requests with the same device's token.
struct FloorClient {
    FloorClient(int port, bool resumeTlsSessions, const Agent& agent)
        : curl(serviceBaseUrl, ConnectTo(port), resumeTlsSessions),
          token(agent.accessToken),
          heartBeatPath("devices/" + IntToText(agent.settings.id) + "/heart-beat") {}
    bool Tick() {
        std::string reply;
        const long poll =
            curl.Request("POST", "connections/check-requests", "password=", token, reply);
        const long beat = curl.Request("GET", heartBeatPath, "", token, reply);
        return poll == 200 && beat == 200;
    }

    CurlFloor curl;
    std::string token;
    std::string heartBeatPath;
};

void AgentTick(benchmark::State& state) {
    const bool resume = state.range(0) != 0;
    EnrolledAgent device(ServicePort(), resume);
    if (!device.enrolled || !device.Answers()) {
        state.SkipWithError("devcloud does not answer (LUMIVO_BENCH_PORT)");
        return;
    }
    device.Tick();  // the trust store is parsed once, before the first handshake
    for (auto _ : state) device.Tick();
    state.SetLabel(resume ? "resumed sessions" : "full handshakes");
}
BENCHMARK(AgentTick)->Arg(1)->Arg(0)->MeasureProcessCPUTime()->UseRealTime()->Unit(
    benchmark::kMillisecond);

void FloorTick(benchmark::State& state) {
    const bool resume = state.range(0) != 0;
    EnrolledAgent device(ServicePort(), true);
    if (!device.enrolled) {
        state.SkipWithError("devcloud does not answer (LUMIVO_BENCH_PORT)");
        return;
    }
    FloorClient floor(ServicePort(), resume, device.agent);
    if (!floor.Tick()) {
        state.SkipWithError("the floor client got no 200");
        return;
    }
    for (auto _ : state) floor.Tick();
    state.SetLabel(resume ? "resumed sessions" : "full handshakes");
}
BENCHMARK(FloorTick)->Arg(1)->Arg(0)->MeasureProcessCPUTime()->UseRealTime()->Unit(
    benchmark::kMillisecond);

// Bytes per tick, counted by a relay between the client and devcloud; the
// relay's thread makes the times of these runs meaningless, only the counts count.
void ReportWire(benchmark::State& state, WireCounter& wire) {
    const WireCounter::Totals totals = wire.Take();
    const double ticks = static_cast<double>(state.iterations());
    state.counters["upBytesPerTick"] = static_cast<double>(totals.up) / ticks;
    state.counters["downBytesPerTick"] = static_cast<double>(totals.down) / ticks;
    state.counters["wireBytesPerTick"] = static_cast<double>(totals.up + totals.down) / ticks;
    state.counters["connectionsPerTick"] = static_cast<double>(totals.connections) / ticks;
}

void AgentWire(benchmark::State& state) {
    const bool resume = state.range(0) != 0;
    WireCounter wire(ServicePort());
    EnrolledAgent device(wire.Port(), resume);
    if (!device.enrolled) {
        state.SkipWithError("devcloud does not answer (LUMIVO_BENCH_PORT)");
        return;
    }
    device.Tick();  // a first full handshake, then the steady state is counted
    wire.Take();
    for (auto _ : state) device.Tick();
    ReportWire(state, wire);
    state.SetLabel(resume ? "resumed sessions" : "full handshakes");
}
BENCHMARK(AgentWire)->Arg(1)->Arg(0)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

void FloorWire(benchmark::State& state) {
    const bool resume = state.range(0) != 0;
    EnrolledAgent device(ServicePort(), true);
    WireCounter wire(ServicePort());
    FloorClient floor(wire.Port(), resume, device.agent);
    if (!device.enrolled || !floor.Tick()) {
        state.SkipWithError("devcloud does not answer (LUMIVO_BENCH_PORT)");
        return;
    }
    wire.Take();
    for (auto _ : state) floor.Tick();
    ReportWire(state, wire);
    state.SetLabel(resume ? "resumed sessions" : "full handshakes");
}
BENCHMARK(FloorWire)->Arg(1)->Arg(0)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumivo::bench
