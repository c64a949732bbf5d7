// POSIX entry point: the platform's services, one Agent over them, and the
// agent's whole run. The exit status is 0 on every path but a refused
// runtime folder (1).

#include "app/agent_app.h"
#include "base/agent.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/host_ports.h"
#include "platform/posix/system_posix.h"
#include "platform/posix/ui_host.h"

int main(int argc, char** argv) {
    using namespace lumivo;
    PrepareProcess();

    PosixSystem system(argc, argv);
    PosixFiles files(PosixFiles::DeviceRootFromEnvironment());
    HostNetworkPorts network;

    Agent agent;
    agent.ports.system = &system;
    agent.ports.files = &files;
    network.Attach(agent.ports);

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
