// One tick's requests (a heart-beat and a poll) against devcloud, through the
// agent's own transport over libcurl and through a minimal libcurl client (the
// floor), side by side in one run; and the bytes each puts on the wire, with
// and without TLS session resumption. The service's HTTPS port comes from
// LUMIVO_BENCH_PORT, its operator port from LUMIVO_BENCH_OPERATOR_PORT
// (scripts/bench.sh starts devcloud and sets both).

#include <benchmark/benchmark.h>

#include <string>

#include "bench/clients.h"
#include "bench/wire_counter.h"

namespace lumivo::bench {
namespace {

void AgentTick(benchmark::State& state) {
    const bool resume = state.range(0) != 0;
    EnrolledAgent device(ServicePort(), resume);
    if (!device.enrolled || !device.Answers()) {
        state.SkipWithError("devcloud does not answer (LUMIVO_BENCH_PORT)");
        return;
    }
    device.Tick();  // the trust store is set up once, before the first handshake
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
