#include "app/agent_app.h"

#include "app/command_line.h"
#include "app/sign_in.h"
#include "base/console.h"
#include "base/constants.h"
#include "base/settings_file.h"
#include "base/text.h"
#include "cloud/heart_beat.h"
#include "connections/polling.h"
#include "connections/vpn.h"
#include "ui/main_dialog.h"

namespace lumivo {

CAgentApp::CAgentApp(Agent& agent)
    : connectionTimerId(0), heartBeatTimerId(0), agent_(agent), mutex_(NULL) {}

CAgentApp::~CAgentApp() { agent_.mainDialog = NULL; }

bool CAgentApp::CheckSingleInstance() {
    SystemPort& system = *agent_.ports.system;
    MutexHandle handle = system.CreateMutex(singleInstanceMutexName, true);
    const unsigned long error = system.GetLastError();
    if (handle != NULL && error != ERROR_ALREADY_EXISTS) {
        mutex_ = handle;
        return false;
    }
    // The platform has said why it has no guard; no copy is known to run.
    if (handle == NULL && error == ERROR_NO_INSTANCE_GUARD) return true;
    Log("App already running...");
    if (handle != NULL) system.CloseHandle(handle);
    return true;
}

bool CAgentApp::RunAgent() {
    SystemPort& system = *agent_.ports.system;
    CommandLineOptions options =
        ParseCommandLine(SplitCommandLine(system.GetCommandLine(), system.GetModuleFileName()));

    if (options.printVersion) {
        Log(agentVersion);
        return false;
    }
    if (options.printHelp) {
        PrintUsage(system);
        return false;
    }
    if (CheckSingleInstance()) {
        if (options.showGui) {
            WindowHandle running = system.FindWindow(ToWide(productName));
            if (running != NULL) system.SendMessage(running, WM_SHOWGUI, 0, 0);
        }
        return false;
    }

    SetDebugOutput(options.debug);
    system.ReportActivity(AgentActivity::SigningIn, "");
    LoadSettingsAndSignIn(agent_, options.vpnOverride, options.connectionsOverride,
                          options.passwordOverride);
    if (options.save) SaveSettings(agent_);

    mainDialog_.Reset(new CMainDialog(agent_, productName));
    agent_.mainDialog = mainDialog_.Get();
    if (!mainDialog_->Create()) {
        system.MessageBox(NULL, L"Error creating Dialog", ToWide(productName), MB_OK);
        return false;
    }
    if (options.showGui) mainDialog_->ShowGui();

    connectionTimerId = system.SetTimer(timerPeriodMs, *this);
    heartBeatTimerId = system.SetTimer(timerPeriodMs, *this);
    system.ReportActivity(AgentActivity::Running, "");

    Message message;
    while (system.GetMessage(message)) {
        system.TranslateMessage(message);
        system.DispatchMessage(message);
    }

    system.ReportActivity(AgentActivity::ShuttingDown, "");
    system.KillTimer(connectionTimerId);
    system.KillTimer(heartBeatTimerId);
    StopVpn(agent_, true);
    return false;
}

void CAgentApp::OnTimer(TimerId id) {
    if (id == connectionTimerId) {
        OnConnectionTimer(agent_);
        ReportVpnChange();
    } else if (id == heartBeatTimerId) {
        OnHeartBeatTimer(agent_);
    }
}

// The VPN comes up and goes down in the connection timer's work (the dialog's
// commands may drop it too, which the next tick then reports).
void CAgentApp::ReportVpnChange() {
    std::string address = agent_.vpnConnected ? agent_.vpnIpAddress : "";
    if (address == reportedVpnAddress_) return;
    reportedVpnAddress_ = address;
    agent_.ports.system->ReportActivity(
        address.empty() ? AgentActivity::Running : AgentActivity::VpnUp, address);
}

}  // namespace lumivo
