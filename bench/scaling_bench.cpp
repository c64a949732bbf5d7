// How the work of one tick grows with what the service and the device hand
// the agent: a poll that lists N requests, and an interface report over N
// adapters. Both must grow linearly.

#include <benchmark/benchmark.h>

#include <string>

#include "base/agent.h"
#include "base/console.h"
#include "base/text.h"
#include "bench/replay_internet.h"
#include "connections/adapters.h"
#include "connections/polling.h"
#include "fakes/fake_ip_helper.h"

namespace lumivo::bench {
namespace {

// {"data":[...]} with `count` requests of the given status.
std::string PollReply(long count, const char* status) {
    std::string reply = "{\"data\":[";
    for (long i = 1; i <= count; ++i) {
        if (i > 1) reply += ",";
        reply += "{\"id\":" + std::to_string(i) + ",\"status\":\"" + status +
                 "\",\"type\":\"vpn\",\"data\":\"{\\\"url\\\":\\\"vpn.example\\\"}\"}";
    }
    return reply + "]}";
}

struct Quiet {
    Quiet() { SetDebugOutput(false); }
    ~Quiet() { SetDebugOutput(true); }
};

// The steady state while a VPN is up: every listed request is "vpn-created"
// and only the walk over the list costs.
void PollListingCreated(benchmark::State& state) {
    Quiet quiet;
    ReplayInternet internet;
    internet.reply = PollReply(state.range(0), "vpn-created");
    Agent agent;
    agent.ports.internet = &internet;
    agent.settings.connectionsEnabled = true;
    for (auto _ : state) CheckConnectionRequests(agent);
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["replyBytes"] = static_cast<double>(internet.reply.size());
}
BENCHMARK(PollListingCreated)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);

// Every listed request is new and is answered (VPN switched off): one PUT each.
void PollListingNewRequests(benchmark::State& state) {
    Quiet quiet;
    ReplayInternet internet;
    internet.reply = PollReply(state.range(0), "request");
    Agent agent;
    agent.ports.internet = &internet;
    agent.settings.connectionsEnabled = true;
    agent.settings.vpnEnabled = false;
    for (auto _ : state) CheckConnectionRequests(agent);
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(PollListingNewRequests)->RangeMultiplier(10)->Range(10, 10000)->Complexity(benchmark::oN);

// The "networkInterfaces" report, built and printed as the answer prints it.
void InterfaceReport(benchmark::State& state) {
    FakeIpHelper ipHelper;
    for (long i = 0; i < state.range(0); ++i) {
        ipHelper.adapters.push_back(
            MakeAdapter("eth" + std::to_string(i),
                        {{"192.168." + std::to_string(i % 256) + ".20", "255.255.255.0"}}));
    }
    Agent agent;
    agent.ports.ipHelper = &ipHelper;
    for (auto _ : state) {
        JsonTree report(BuildInterfaceReport(agent));
        benchmark::DoNotOptimize(PrintJson(report.get()));
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(InterfaceReport)->RangeMultiplier(10)->Range(1, 1000)->Complexity(benchmark::oN);

}  // namespace
}  // namespace lumivo::bench
