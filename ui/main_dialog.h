#pragma once
// The agent's main dialog: a small modeless window with a tab control of
// three pages, the owner of the tray icon, and the target of the agent's own
// window messages. Created hidden at start-up and kept for the whole run.

#include <cstdint>
#include <string>

#include "base/agent.h"
#include "resources/resource.h"
#include "ui/dialog.h"
#include "ui/system_tray.h"
#include "ui/tab_pages.h"

namespace lumivo {

class CMainDialog : public CDialog, public MainDialogView {
  public:
    CMainDialog(Agent& agent, std::string title);
    ~CMainDialog() override = default;

    // Modeless, hidden, from dialog resource 802, without a parent.
    bool Create();
    // Sizes the dialog to 480 by 272, centres it, selects the General tab and
    // brings it to the front, topmost.
    void ShowGui();
    // Shows the page with tab index `index` and hides the others.
    void SelectPage(int index);

    void ShowVpnAddress(std::string text) override;
    bool SetVpnIcon(bool vpnUp) override;

    CSystemTray& Tray() { return trayIcon; }

    static constexpr int dialogWidth = 480;
    static constexpr int dialogHeight = 272;

  protected:
    bool OnInitDialog() override;
    bool OnMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                   std::intptr_t& result) override;

  private:
    std::intptr_t OnQuitConfirmation(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnHide(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnAppExit(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnTrayNotify(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnShowGui(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnVpnDisconnected(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t OnTabSelChange(std::uintptr_t wParam, std::intptr_t lParam);
    void Quit();

    IconHandle windowIcon = nullptr;
    std::wstring title;
    CSystemTray trayIcon;
    WindowHandle tabControl = nullptr;
    CTabGeneral generalPage;
    CTabOptions optionsPage;
    CTabAbout aboutPage;
};

}  // namespace lumivo
