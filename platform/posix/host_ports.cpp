#include "platform/posix/host_ports.h"

#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "platform/posix/service_notify.h"

namespace lumivo {

namespace {

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

void PrepareProcess() {
    // Multibyte conversion follows the user's locale, as the device's C library
    // follows its code page.
    std::setlocale(LC_CTYPE, "");
    // A reader of the console lines that goes away (a pipe closed early) only
    // costs the lines written after it: the writes fail instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    // Lines in the journal are read by others: no secrets, no control bytes,
    // no floods. Anywhere else they stay exactly as written.
    SetConsoleForJournal(StandardOutputIsJournal());
}

HostNetworkPorts::HostNetworkPorts() : internet_(CurlTimeouts{}, Environment("LUMIVO_CONNECT_TO")) {
    // docs/vpn-linux.md; the simulation (docs/vpn-simulation.md) only by name.
    VpnAdapterSource* vpnAdapter = nullptr;
    // An empty value (a stray line in a configuration file) is no request.
    const char* script = Environment("LUMIVO_RAS_SCRIPT");
    if (*script != '\0') {
        std::fputs("VPN simulated (LUMIVO_RAS_SCRIPT): no tunnel is built\n", stderr);
        RasSim& simulation = simulation_.emplace(script);
        ras_ = &simulation;
        vpnAdapter = &simulation;
    } else {
        RasNetworkManager& networkManager = networkManager_.emplace();
        ras_ = &networkManager;
        vpnAdapter = &networkManager;
    }
    ipHelper_.emplace(vpnAdapter);
}

void HostNetworkPorts::Attach(Ports& ports) {
    ports.internet = &internet_;
    ports.ras = ras_;
    ports.ipHelper = &*ipHelper_;
}

}  // namespace lumivo
