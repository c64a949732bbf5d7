#pragma once
// The clients that the benchmarks set side by side against devcloud: the
// agent itself (enrolled, over the libcurl Internet port) and the libcurl
// floor making the same two requests per tick with the agent's token.

#include <cstdlib>
#include <string>

#include "base/agent.h"
#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "bench/curl_floor.h"
#include "bench/operator_call.h"
#include "cloud/enrolment.h"
#include "cloud/heart_beat.h"
#include "cloud/transport.h"
#include "connections/polling.h"
#include "fakes/fake_files.h"
#include "platform/posix/internet_curl.h"

namespace lumivo::bench {

inline int EnvPort(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : 0;
}
inline int ServicePort() { return EnvPort("LUMIVO_BENCH_PORT"); }

// devcloud keeps a log of every request; each run starts it afresh, so that no
// run pays for the log of the runs before it.
inline void ClearServiceLog() {
    const int port = EnvPort("LUMIVO_BENCH_OPERATOR_PORT");
    if (port != 0) OperatorCall(port, "DELETE", "/log");
}

// Empty host and port parts match the base URL, whatever it names.
inline std::string ConnectTo(int port) { return "::127.0.0.1:" + std::to_string(port); }

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

}  // namespace lumivo::bench
