#pragma once
// The agent's main dialog: a small modeless window with a tab control of
// three pages, the owner of the tray icon, and the target of the agent's own
// window messages. Created hidden at start-up and kept for the whole run.

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

    // Modeless, hidden, from dialog resource 802, without a parent.
    bool Create();
    // Sizes the dialog to 480 by 272, centres it, selects the General tab and
    // brings it to the front, topmost.
    void ShowGui();
    // Shows the page with tab index `index` and hides the others.
    void SelectPage(int index);

    void ShowVpnAddress(std::string text);
    bool SetVpnIcon(bool vpnUp);

    CSystemTray& Tray() { return trayIcon; }

    enum { dialogWidth = 480, dialogHeight = 272 };

  protected:
    bool OnInitDialog();
    bool OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result);

  private:
    intptr OnQuitConfirmation(uintptr wParam, intptr lParam);
    intptr OnHide(uintptr wParam, intptr lParam);
    intptr OnAppExit(uintptr wParam, intptr lParam);
    intptr OnTrayNotify(uintptr wParam, intptr lParam);
    intptr OnShowGui(uintptr wParam, intptr lParam);
    intptr OnVpnDisconnected(uintptr wParam, intptr lParam);
    intptr OnTabSelChange(uintptr wParam, intptr lParam);
    void Quit();

    IconHandle windowIcon;
    std::wstring title;
    CSystemTray trayIcon;
    WindowHandle tabControl;
    CTabGeneral generalPage;
    CTabOptions optionsPage;
    CTabAbout aboutPage;
};

}  // namespace lumivo
