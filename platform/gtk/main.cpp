// Desktop entry point: the POSIX services with the toolkit's main context in
// their loop, the GTK windows and tray icon, one Agent over them, and the
// agent's whole run. Without a display it runs as the service does, with the
// headless host. The exit status is 0 on every path but a refused runtime
// folder (1), as for the service.

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/agent_app.h"
#include "base/agent.h"
#include "platform/gtk/system_gtk.h"
#include "platform/gtk/ui_gtk.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/host_ports.h"
#include "platform/posix/ui_host.h"

int main(int argc, char** argv) {
    using namespace lumivo;
    PrepareProcess();
    // Takes the toolkit's own options out of argv before the agent reads it.
    const bool display = gtk_init_check(&argc, &argv) != FALSE;

    GtkSystem system(argc, argv);
    // The device's files ("\BOOT\env.json") are the user's own: under
    // $XDG_STATE_HOME/lumivo-runtime unless LUMIVO_DEVICE_ROOT names a folder.
    const char* root = std::getenv("LUMIVO_DEVICE_ROOT");
    std::string deviceRoot = root != nullptr && *root != '\0' ? root : "";
    if (deviceRoot.empty()) {
        deviceRoot = std::string(g_get_user_state_dir()) + "/lumivo-runtime";
        g_mkdir_with_parents((deviceRoot + "/BOOT").c_str(), 0700);
    }
    PosixFiles files(deviceRoot);
    HostNetworkPorts network;

    Agent agent;
    agent.ports.system = &system;
    agent.ports.files = &files;
    network.Attach(agent.ports);

    std::unique_ptr<GtkUi> desktop;
    std::unique_ptr<PosixUi> headless;
    if (display) {
        desktop = std::make_unique<GtkUi>(&system);
        system.SetUi(desktop.get());
        agent.ports.ui = desktop.get();
    } else {
        headless = std::make_unique<PosixUi>(&system);
        agent.ports.ui = headless.get();
    }

    system.SetTerminationHandler([&system] { system.PostQuitMessage(0); });
    agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");

    CAgentApp(agent).RunAgent();
    return system.GetLastError() == ERROR_NO_INSTANCE_GUARD ? 1 : 0;
}
