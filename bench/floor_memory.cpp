// The floor's resident memory: the minimal libcurl client alone in a process,
// enrolled with devcloud by itself, making the agent's two requests per tick
// with sessions resumed (as the agent ships). Built twice: over the agent's
// own libcurl and over Debian's shared one. Prints the same lines as
// agent-memory (bench/memory_report.h).
// Usage: floor-memory [ticks, default 1000]; LUMIVO_BENCH_PORT.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/constants.h"
#include "base/text.h"
#include "bench/curl_floor.h"
#include "bench/memory_report.h"

#ifndef FLOOR_NAME
#define FLOOR_NAME "floor"
#endif

int main(int argc, char** argv) {
    using namespace lumivo;
    const char* portText = std::getenv("LUMIVO_BENCH_PORT");
    const int port = portText != nullptr ? std::atoi(portText) : 0;
    const int lastTicks = argc > 1 ? std::atoi(argv[1]) : 1000;
    bench::CurlFloor curl(serviceBaseUrl, "::127.0.0.1:" + std::to_string(port), true);

    std::string reply;
    std::string token;
    std::string heartBeat;
    if (!bench::EnrolForTicks(curl, FLOOR_NAME, token, heartBeat)) return 1;
    for (int tick = 1; tick <= lastTicks; ++tick) {
        curl.Request("POST", "connections/check-requests", "password=", token, reply);
        curl.Request("GET", heartBeat, "", token, reply);
        if (tick == 10 || tick == lastTicks) bench::PrintCheckpoint(FLOOR_NAME, tick);
    }
    bench::PrintMappings(FLOOR_NAME);
    return 0;
}
