#include "ui/tab_pages.h"

#include "base/constants.h"
#include "base/settings_file.h"
#include "base/text.h"
#include "connections/vpn.h"

namespace lumivo {

// General page.

bool CTabGeneral::OnInitDialog() {
    SetItemText(idText, IntToText(agent_.settings.id));
    SetItemText(passwordText, agent_.settings.password);
    ShowVpnAddress("");
    return true;
}

bool CTabGeneral::OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                            std::intptr_t& result) {
    static const MessageMapEntry<CTabGeneral> map[] = {
        {WM_COMMAND, disconnectAllButton, BN_CLICKED, &CTabGeneral::OnDisconnectAll},
    };
    return DispatchMessageMap(*this, map, message, wParam, lParam, result);
}

void CTabGeneral::ShowVpnAddress(std::string text) {
    const bool connected = !text.empty();
    SetItemText(vpnAddressText, connected ? text : "DISCONNECTED");
    EnableItem(disconnectAllButton, connected);
}

std::intptr_t CTabGeneral::OnDisconnectAll(std::uintptr_t, std::intptr_t) {
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
    SetItemText(connectionsPasswordEdit, agent_.settings.connectionsPassword);
    SetItemCheck(connectionsEnabledCheck, agent_.settings.connectionsEnabled);
    SetItemCheck(vpnEnabledCheck, agent_.settings.vpnEnabled);
    // Last: filling the password field has enabled "Save" through its change
    // notification, and the page starts clean.
    EnableItem(saveButton, false);
    return true;
}

bool CTabOptions::OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                            std::intptr_t& result) {
    static const MessageMapEntry<CTabOptions> map[] = {
        {WM_COMMAND, connectionsEnabledCheck, BN_CLICKED, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, vpnEnabledCheck, BN_CLICKED, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, connectionsPasswordEdit, EN_CHANGE, &CTabOptions::OnOptionChanged},
        {WM_COMMAND, saveButton, BN_CLICKED, &CTabOptions::OnSave},
    };
    return DispatchMessageMap(*this, map, message, wParam, lParam, result);
}

std::intptr_t CTabOptions::OnOptionChanged(std::uintptr_t, std::intptr_t) {
    EnableItem(saveButton, true);
    return 0;
}

std::intptr_t CTabOptions::OnSave(std::uintptr_t, std::intptr_t) {
    agent_.settings.connectionsEnabled = IsItemChecked(connectionsEnabledCheck);
    agent_.settings.vpnEnabled = IsItemChecked(vpnEnabledCheck);
    agent_.settings.connectionsPassword =
        Ui().WideToAnsi(Ui().GetWindowText(Item(connectionsPasswordEdit)));
    SaveSettings(agent_);
    EnableItem(saveButton, false);
    return 0;
}

// About page.

bool CTabAbout::OnInitDialog() {
    SetItemText(productNameText, productName);
    SetItemText(versionText, agentVersion);
    SetItemText(copyrightText, copyrightLine);
    return true;
}

}  // namespace lumivo
