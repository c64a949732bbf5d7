#pragma once
// The three pages of the main dialog's tab control. Each is a bordered child
// dialog; its values live in its controls and in the agent's settings.

#include <cstdint>
#include <string>

#include "ui/dialog.h"

namespace lumivo {

// Dialog templates of the pages.
inline constexpr int generalPageTemplate = 156;
inline constexpr int optionsPageTemplate = 804;
inline constexpr int aboutPageTemplate = 805;

// The device's credentials, the VPN state and "Disconnect all".
class CTabGeneral : public CDialog {
  public:
    explicit CTabGeneral(Agent& agent) : CDialog(agent, generalPageTemplate) {}

    // An address shows the connected look; an empty text "DISCONNECTED".
    void ShowVpnAddress(std::string text);

    static constexpr int idText = 1003;
    static constexpr int passwordText = 1004;
    static constexpr int vpnAddressText = 1019;
    static constexpr int disconnectAllButton = 1018;

  protected:
    bool OnInitDialog() override;
    bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                   std::intptr_t& result) override;

  private:
    std::intptr_t OnDisconnectAll(std::uintptr_t wParam, std::intptr_t lParam);
};

// Connections and VPN switches, the connections password, "Save".
class CTabOptions : public CDialog {
  public:
    explicit CTabOptions(Agent& agent) : CDialog(agent, optionsPageTemplate) {}

    static constexpr int connectionsEnabledCheck = 1006;
    static constexpr int vpnEnabledCheck = 1008;
    static constexpr int connectionsPasswordEdit = 1020;
    static constexpr int saveButton = 1022;

  protected:
    bool OnInitDialog() override;
    bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                   std::intptr_t& result) override;

  private:
    std::intptr_t OnOptionChanged(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnSave(std::uintptr_t wParam, std::intptr_t lParam);
};

// Product name, version and copyright line.
class CTabAbout : public CDialog {
  public:
    explicit CTabAbout(Agent& agent) : CDialog(agent, aboutPageTemplate) {}

    static constexpr int productNameText = 1022;
    static constexpr int versionText = 1023;
    static constexpr int copyrightText = 1024;

  protected:
    bool OnInitDialog() override;
};

}  // namespace lumivo
