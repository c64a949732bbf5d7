// POSIX entry point: the platform's services, one Agent over them, and the
// agent's whole run. The exit status is 0 on every path but a refused
// runtime folder (1).

#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/agent_app.h"
#include "base/agent.h"
#include "base/console.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/internet_curl.h"
#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_networkmanager.h"
#include "platform/posix/ras_sim.h"
#include "platform/posix/service_notify.h"
#include "platform/posix/system_posix.h"
#include "platform/posix/ui_host.h"

int main(int argc, char** argv) {
    using namespace lumivo;
    // Multibyte conversion follows the user's locale, as the device's C library
    // follows its code page.
    std::setlocale(LC_CTYPE, "");
    // A reader of the console lines that goes away (a pipe closed early) only
    // costs the lines written after it: the writes fail instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    // Lines in the journal are read by others: no secrets, no control bytes,
    // no floods. Anywhere else they stay exactly as written.
    SetConsoleForJournal(StandardOutputIsJournal());

    PosixSystem system(argc, argv);
    PosixFiles files(PosixFiles::DeviceRootFromEnvironment());

    Agent agent;
    agent.ports.system = &system;
    agent.ports.files = &files;
    // Internet (HTTPS). LUMIVO_CONNECT_TO ("HOST:PORT:TO-HOST:TO-PORT") sends the
    // service's requests to a development service elsewhere, the URL unchanged.
    const char* connectTo = std::getenv("LUMIVO_CONNECT_TO");
    CurlInternet internet(CurlTimeouts{}, connectTo != nullptr ? connectTo : "");
    agent.ports.internet = &internet;

    // RAS and IP Helper: the host's L2TP/IPsec stack through NetworkManager
    // (docs/vpn-linux.md); only LUMIVO_RAS_SCRIPT selects the simulation
    // (docs/vpn-simulation.md), and it says so. The adapters are the host's
    // own, the VPN's tunnel among them as "L2TP Line 0".
    const char* rasScript = std::getenv("LUMIVO_RAS_SCRIPT");
    std::optional<RasSim> simulation;
    std::optional<RasNetworkManager> networkManager;
    RasPort* ras = nullptr;
    VpnAdapterSource* vpnAdapter = nullptr;
    if (rasScript != nullptr) {
        std::fputs("VPN simulated (LUMIVO_RAS_SCRIPT): no tunnel is built\n", stderr);
        ras = &simulation.emplace(rasScript);
        vpnAdapter = &*simulation;
    } else {
        ras = &networkManager.emplace();
        vpnAdapter = &*networkManager;
    }
    IpHelperPosix ipHelper(vpnAdapter);
    agent.ports.ras = ras;
    agent.ports.ipHelper = &ipHelper;

    // User interface host: in-memory windows built from the program's own
    // dialog templates; LUMIVO_UI_TRACE=<file> records what a user would see.
    PosixUi ui(&system);
    agent.ports.ui = &ui;

    // SIGINT and SIGTERM end the loop, so that shutdown runs; the user
    // interface host may replace this with the dialog's own quit command.
    system.SetTerminationHandler([&system] { system.PostQuitMessage(0); });
    agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");

    CAgentApp(agent).RunAgent();
    // A refused runtime folder (its line is written) means the agent never
    // ran: a supervisor sees that as a failure. Every other end is status 0.
    return system.GetLastError() == ERROR_NO_INSTANCE_GUARD ? 1 : 0;
}
