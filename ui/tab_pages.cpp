#include "ui/tab_pages.h"

#include "base/constants.h"
#include "base/settings_file.h"
#include "base/text.h"
#include "connections/vpn.h"

namespace lumivo {

// General page.

bool CTabGeneral::OnInitDialog() {
    SetItemText(IDC_ID, IntToText(agent_.settings.id));
    SetItemText(IDC_PASSWORD, agent_.settings.password);
    ShowVpnAddress("");
    return true;
}

bool CTabGeneral::OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result) {
    static const MessageMapEntry<CTabGeneral> map[] = {
        {WM_COMMAND, IDC_DISCONNECT_ALL, BN_CLICKED, &CTabGeneral::OnDisconnectAll},
    };
    return DispatchMessageMap(*this, map, message, wParam, lParam, result);
}

void CTabGeneral::ShowVpnAddress(std::string text) {
    const bool connected = !text.empty();
    SetItemText(IDC_VPN_ADDRESS, connected ? text : "DISCONNECTED");
    EnableItem(IDC_DISCONNECT_ALL, connected);
}

intptr CTabGeneral::OnDisconnectAll(uintptr, intptr) {
    // A failed hang-up keeps the connected look so the user can try again.
    if (!StopVpn(agent_, true)) return 0;
    // The page sits in the tab control, which sits in the main dialog.
    WindowHandle mainWindow = Ui().GetParent(Ui().GetParent(GetSafeHwnd()));
    Ui().SendMessage(mainWindow, WM_VPNDISCONNECTED, 0, 0);
    ShowVpnAddress("");
    return 0;
}

// Options page.

bool CTabOptions::OnInitDialog() {
    SetItemText(IDC_CONNECTIONS_PASSWORD, agent_.settings.connectionsPassword);
    SetItemCheck(IDC_CONNECTIONS_ENABLED, agent_.settings.connectionsEnabled);
    SetItemCheck(IDC_VPN_ENABLED, agent_.settings.vpnEnabled);
    // Last: filling the password field has enabled "Save" through its change
    // notification, and the page starts clean.
    EnableItem(IDC_SAVE, false);
    return true;
}

bool CTabOptions::OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result) {
    static const MessageMapEntry<CTabOptions> map[] = {
        {WM_COMMAND, IDC_CONNECTIONS_ENABLED, BN_CLICKED, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, IDC_VPN_ENABLED, BN_CLICKED, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, IDC_CONNECTIONS_PASSWORD, EN_CHANGE, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, IDC_SAVE, BN_CLICKED, &CTabOptions::OnSave},
    };
    return DispatchMessageMap(*this, map, message, wParam, lParam, result);
}

intptr CTabOptions::OnOptionChanged(uintptr, intptr) {
    EnableItem(IDC_SAVE, true);
    return 0;
}

intptr CTabOptions::OnSave(uintptr, intptr) {
    agent_.settings.connectionsEnabled = IsItemChecked(IDC_CONNECTIONS_ENABLED);
    agent_.settings.vpnEnabled = IsItemChecked(IDC_VPN_ENABLED);
    agent_.settings.connectionsPassword =
        Ui().WideToAnsi(Ui().GetWindowText(Item(IDC_CONNECTIONS_PASSWORD)));
    SaveSettings(agent_);
    EnableItem(IDC_SAVE, false);
    return 0;
}

// About page.

bool CTabAbout::OnInitDialog() {
    SetItemText(IDC_PRODUCT_NAME, productName);
    SetItemText(IDC_VERSION, agentVersion);
    SetItemText(IDC_COPYRIGHT, copyrightLine);
    return true;
}

}  // namespace lumivo
