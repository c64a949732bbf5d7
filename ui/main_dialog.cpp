#include "ui/main_dialog.h"

#include "base/constants.h"
#include "base/text.h"

namespace lumivo {

CMainDialog::CMainDialog(Agent& agent, std::string title)
    : CDialog(agent, IDD_MAIN),
      windowIcon(NULL),
      title(ToWide(title)),
      trayIcon(agent),
      tabControl(NULL),
      generalPage(agent),
      optionsPage(agent),
      aboutPage(agent) {
    if (agent.ports.ui != NULL) windowIcon = Ui().LoadIcon(IDI_NORMAL);
}

bool CMainDialog::Create() { return CDialog::Create(NULL); }

bool CMainDialog::OnInitDialog() {
    UiPort& ui = Ui();
    WindowHandle self = GetSafeHwnd();
    ui.SendMessage(self, WM_SETICON, ICON_BIG, reinterpret_cast<intptr>(windowIcon));
    ui.SendMessage(self, WM_SETICON, ICON_SMALL, reinterpret_cast<intptr>(windowIcon));
    // A second copy of the agent finds this window by this exact title.
    ui.SetWindowText(self, title);

    // The dialog works without a tray icon, so the result does not matter.
    trayIcon.AddTrayIcon(self, WM_TRAYNOTIFY, title, ui.LoadIcon(IDI_NORMAL), 0);

    tabControl = Item(IDC_TABS);
    struct Page {
        CDialog* dialog;
        const wchar_t* text;
    };
    const Page pages[] = {
        {&generalPage, L"General"},
        {&optionsPage, L"Options"},
        {&aboutPage, L"About"},
    };
    for (int i = 0; i < 3; ++i) {
        CDialog& page = *pages[i].dialog;
        page.Create(tabControl);

        std::wstring text = pages[i].text;
        TabItem item;
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = &text[0];
        item.lParam = reinterpret_cast<intptr>(&page);
        ui.SendMessage(tabControl, TCM_INSERTITEMW, static_cast<uintptr>(i),
                       reinterpret_cast<intptr>(&item));

        // Every page goes right under the tab row, at the first tab's left edge.
        Rect rect;
        ui.SendMessage(tabControl, TCM_GETITEMRECT, 0, reinterpret_cast<intptr>(&rect));
        ui.SetWindowPos(page.GetSafeHwnd(), NULL, rect.left, rect.bottom + 1, 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER);
        ui.ShowWindow(page.GetSafeHwnd(), i == 0 ? SW_SHOW : SW_HIDE);
    }
    return true;
}

bool CMainDialog::OnMessage(unsigned message, uintptr wParam, intptr lParam, intptr& result) {
    static const MessageMapEntry<CMainDialog> map[] = {
        {WM_COMMAND, IDCANCEL, BN_CLICKED, &CMainDialog::OnQuitConfirmation},
        {WM_COMMAND, IDOK, BN_CLICKED, &CMainDialog::OnHide},
        {WM_COMMAND, ID_APP_EXIT, BN_CLICKED, &CMainDialog::OnAppExit},
        {WM_TRAYNOTIFY, 0, 0, &CMainDialog::OnTrayNotify},
        {WM_SHOWGUI, 0, 0, &CMainDialog::OnShowGui},
        {WM_VPNDISCONNECTED, 0, 0, &CMainDialog::OnVpnDisconnected},
        {WM_NOTIFY, IDC_TABS, TCN_SELCHANGE, &CMainDialog::OnTabSelChange},
    };
    return DispatchMessageMap(*this, map, message, wParam, lParam, result);
}

void CMainDialog::ShowGui() {
    UiPort& ui = Ui();
    WindowHandle self = GetSafeHwnd();
    ui.SetWindowPos(self, NULL, 0, 0, dialogWidth, dialogHeight, SWP_NOZORDER);
    Rect rect;
    ui.GetWindowRect(self, rect);
    const int x = (ui.GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    const int y = (ui.GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    ui.SetWindowPos(self, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SelectPage(0);
    ui.SendMessage(tabControl, TCM_SETCURSEL, 0, 0);
    if (!ui.IsWindowVisible(self)) ui.ShowWindow(self, SW_SHOW);
    ui.SetForegroundWindow(self);
    ui.SetWindowPos(self, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CMainDialog::SelectPage(int index) {
    const CDialog* pages[] = {&generalPage, &optionsPage, &aboutPage};
    for (int i = 0; i < 3; ++i) {
        Ui().ShowWindow(pages[i]->GetSafeHwnd(), i == index ? SW_SHOW : SW_HIDE);
    }
}

void CMainDialog::ShowVpnAddress(std::string text) { generalPage.ShowVpnAddress(text); }

bool CMainDialog::SetVpnIcon(bool vpnUp) {
    return trayIcon.ChangeTrayIcon(Ui().LoadIcon(vpnUp ? IDI_VPN : IDI_NORMAL));
}

void CMainDialog::Quit() {
    trayIcon.RemoveTrayIcon();
    agent_.ports.system->PostQuitMessage(0);
}

intptr CMainDialog::OnQuitConfirmation(uintptr, intptr) {
    const int answer =
        agent_.ports.system->MessageBox(GetSafeHwnd(), L"Are you sure you want to quit?",
                                        ToWide(productName), MB_YESNO | MB_ICONEXCLAMATION);
    if (answer == IDYES) Quit();
    return 0;
}

intptr CMainDialog::OnHide(uintptr, intptr) {
    Ui().ShowWindow(GetSafeHwnd(), SW_HIDE);
    return 0;
}

intptr CMainDialog::OnAppExit(uintptr, intptr) {
    Quit();
    return 0;
}

intptr CMainDialog::OnTrayNotify(uintptr, intptr lParam) {
    if (LoWord(static_cast<uintptr>(lParam)) != WM_LBUTTONUP) return 0;
    ShowGui();
    return 1;
}

intptr CMainDialog::OnShowGui(uintptr, intptr) {
    ShowGui();
    return 1;
}

intptr CMainDialog::OnVpnDisconnected(uintptr, intptr) {
    SetVpnIcon(false);
    return 1;
}

intptr CMainDialog::OnTabSelChange(uintptr, intptr) {
    SelectPage(static_cast<int>(Ui().SendMessage(tabControl, TCM_GETCURSEL, 0, 0)));
    return 0;
}

}  // namespace lumivo
