#pragma once
// The three pages of the main dialog's tab control. Each is a bordered child
// dialog; its values live in its controls and in the agent's settings.

#include <string>

#include "resources/resource.h"
#include "ui/dialog.h"

namespace lumivo {

// The device's credentials, the VPN state and "Disconnect all".
class CTabGeneral : public CDialog {
  public:
    explicit CTabGeneral(Agent& agent) : CDialog(agent, IDD_GENERAL) {}

    // An address shows the connected look; an empty text "DISCONNECTED".
    void ShowVpnAddress(std::string text);

  protected:
    bool OnInitDialog();
    bool OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result);

  private:
    intptr OnDisconnectAll(uintptr wParam, intptr lParam);
};

// Connections and VPN switches, the connections password, "Save".
class CTabOptions : public CDialog {
  public:
    explicit CTabOptions(Agent& agent) : CDialog(agent, IDD_OPTIONS) {}

  protected:
    bool OnInitDialog();
    bool OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result);

  private:
    intptr OnOptionChanged(uintptr wParam, intptr lParam);
    intptr OnSave(uintptr wParam, intptr lParam);
};

// Product name, version and copyright line.
class CTabAbout : public CDialog {
  public:
    explicit CTabAbout(Agent& agent) : CDialog(agent, IDD_ABOUT) {}

  protected:
    bool OnInitDialog();
};

}  // namespace lumivo
