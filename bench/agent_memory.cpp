// The agent's resident memory over its ticks: the whole agent as the POSIX
// entry point builds it (libcurl, the simulated VPN, the host's adapters, the
// headless dialog), signed in with devcloud, with a VPN request that brings
// the VPN up and keeps it up. The timer procedures are called directly, one
// round after the other, instead of every 5000 ms. Prints one JSON line per
// checkpoint (bench/memory_report.h), then where the memory is.
//
// Environment: LUMIVO_BENCH_PORT (devcloud's HTTPS port), LUMIVO_BENCH_OPERATOR_PORT,
// LUMIVO_DEVICE_ROOT (a folder for the settings file).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/sign_in.h"
#include "base/agent.h"
#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "bench/memory_report.h"
#include "bench/operator_call.h"
#include "cloud/heart_beat.h"
#include "connections/polling.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/internet_curl.h"
#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_sim.h"
#include "platform/posix/system_posix.h"
#include "platform/posix/ui_host.h"
#include "ui/main_dialog.h"

namespace {

int EnvInt(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoi(text) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumivo;
    const int port = EnvInt("LUMIVO_BENCH_PORT");
    const int operatorPort = EnvInt("LUMIVO_BENCH_OPERATOR_PORT");
    if (port == 0 || operatorPort == 0) {
        std::fprintf(stderr, "agent-memory: LUMIVO_BENCH_PORT and LUMIVO_BENCH_OPERATOR_PORT\n");
        return 2;
    }
    const int lastTicks = argc > 1 ? std::atoi(argv[1]) : 1000;

    PosixSystem system(argc, argv);
    PosixFiles files(PosixFiles::DeviceRootFromEnvironment());
    CurlInternet internet(CurlTimeouts{}, "::127.0.0.1:" + std::to_string(port));
    RasSim ras("");
    IpHelperPosix ipHelper(&ras);
    PosixUi ui(&system);
    Agent agent;
    agent.ports = Ports{&system, &files, &internet, &ras, &ipHelper, &ui};
    agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");

    SetDebugOutput(false);
    LoadSettingsAndSignIn(agent, "true", "true", "NOT_SET");
    // Enrolment resets the connection settings; a device in service has them on.
    agent.settings.connectionsEnabled = true;
    agent.settings.vpnEnabled = true;
    CMainDialog dialog(agent, productName);
    agent.mainDialog = &dialog;
    if (!dialog.Create()) return 1;
    SetDebugOutput(true);
    if (!bench::OperatorCall(
            operatorPort, "POST", "/devices/" + IntToText(agent.settings.id) + "/requests",
            R"({"url":"vpn.example","username":"u","password":"p","preSharedKey":"k"})")) {
        std::fprintf(stderr, "agent-memory: devcloud's operator interface did not answer\n");
        return 1;
    }

    SetDebugOutput(false);
    for (int tick = 1; tick <= lastTicks; ++tick) {
        OnConnectionTimer(agent);
        OnHeartBeatTimer(agent);
        if (tick == 10 || tick == lastTicks) {
            SetDebugOutput(true);
            std::printf(
                "{\"client\":\"agent\",\"ticks\":%d,\"rssKb\":%ld,\"peakRssKb\":%ld,"
                "\"vpnUp\":%s}\n",
                tick, bench::StatusKb("VmRSS"), bench::StatusKb("VmHWM"),
                agent.vpnConnected ? "true" : "false");
            std::fflush(stdout);
            SetDebugOutput(false);
        }
    }
    bench::PrintMappings("agent");
    agent.mainDialog = nullptr;
    return 0;
}
