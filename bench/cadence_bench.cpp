// The agent beside the floor at the real cadence: each of the four clients
// (agent and floor, sessions resumed and full handshakes) makes one tick every
// 5 s, a quarter period apart (agent and floor of a pair take turns going
// first), so every tick starts from caches that other
// work has had time to cool, as in service. The CPU of each tick is the
// process's on-CPU time from the scheduler around it. Prints one JSON line per
// client: {"client":..., "ticks":N, "cpuMsMedian":..., "cpuMsMean":...}.
// Usage: bench-cadence [ticks, default 12]; LUMIVO_BENCH_PORT as for bench-transport.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include "bench/clients.h"

namespace {

double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Client {
    const char* name;
    std::function<void()> tick;
    std::vector<double> cpuMs;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace lumivo::bench;
    const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    const int port = ServicePort();
    EnrolledAgent agentResumed(port, true), agentFull(port, false);
    FloorClient floorResumed(port, true, agentResumed.agent);
    FloorClient floorFull(port, false, agentFull.agent);
    // A first tick each, which also sets up the trust store and the caches.
    agentResumed.Tick();
    agentFull.Tick();
    if (!agentResumed.enrolled || !agentFull.enrolled || !agentResumed.Answers() ||
        !agentFull.Answers() || !floorResumed.Tick() || !floorFull.Tick()) {
        std::fprintf(stderr, "bench-cadence: devcloud does not answer (LUMIVO_BENCH_PORT)\n");
        return 1;
    }
    std::vector<Client> clients = {
        {"AgentResumed", [&] { agentResumed.Tick(); }, {}},
        {"FloorResumed", [&] { floorResumed.Tick(); }, {}},
        {"AgentFull", [&] { agentFull.Tick(); }, {}},
        {"FloorFull", [&] { floorFull.Tick(); }, {}},
    };

    const auto period = std::chrono::milliseconds(5000);
    const auto start = std::chrono::steady_clock::now() + period;
    for (int tick = 0; tick < ticks; ++tick) {
        for (std::size_t k = 0; k < clients.size(); ++k) {
            std::this_thread::sleep_until(start + tick * period +
                                          k * period / static_cast<int>(clients.size()));
            // Every other round the floor goes before the agent of its pair:
            // whoever goes second finds the libraries' code that both use warmer.
            Client& client = clients[tick % 2 == 0 ? k : k ^ 1];
            const double before = ProcessCpuMs();
            client.tick();
            client.cpuMs.push_back(ProcessCpuMs() - before);
        }
    }
    for (Client& client : clients) {
        std::vector<double> sorted = client.cpuMs;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0;
        for (double ms : sorted) sum += ms;
        const std::size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        std::printf("{\"client\":\"%s\",\"ticks\":%zu,\"cpuMsMedian\":%.3f,\"cpuMsMean\":%.3f}\n",
                    client.name, n, median, sum / static_cast<double>(n));
    }
    return 0;
}
