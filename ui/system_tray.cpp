#include "ui/system_tray.h"

#include <vector>

namespace lumivo {

namespace {

const wchar_t* const trayWindowClass = L"CSystemTray";

}  // namespace

void CopyTrayTip(const std::wstring& text, uint16 (&tip)[notifyTipUnits]) {
    std::vector<uint16> units;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const uint32 code = static_cast<uint32>(text[i]);
        if (code > 0xFFFF && code <= 0x10FFFF) {  // a 32-bit wide character
            units.push_back(static_cast<uint16>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<uint16>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16>(code));
        }
    }
    std::size_t count = units.size() < notifyTipUnits - 1 ? units.size() : notifyTipUnits - 1;
    // Keep a surrogate pair whole or drop it.
    if (count > 0 && count < units.size() && units[count - 1] >= 0xD800 &&
        units[count - 1] <= 0xDBFF) {
        --count;
    }
    for (std::size_t i = 0; i < notifyTipUnits; ++i) tip[i] = i < count ? units[i] : 0;
}

CSystemTray::CSystemTray(Agent& agent)
    : agent_(agent), window_(NULL), created(false), hidden(true), removed(true), addFlags(0) {}

CSystemTray::~CSystemTray() {
    RemoveTrayIcon();
    if (window_ != NULL) agent_.ports.ui->DestroyWindow(window_);
}

bool CSystemTray::AddTrayIcon(WindowHandle owner, unsigned callbackMessage, const std::wstring& tip,
                              IconHandle icon, uint32 id) {
    UiPort& ui = *agent_.ports.ui;
    created = true;

    // A class registered by an earlier tray object is there already.
    ui.RegisterClass(trayWindowClass);
    if (window_ == NULL) {
        window_ = ui.CreateWindowEx(0, trayWindowClass, L"", WS_POPUP, 0, 0, 0, 0, NULL, *this);
    }

    notifyData = NotifyIconData();
    notifyData.cbSize = notifyIconDataSize;
    notifyData.hWnd = owner != NULL ? owner : window_;
    notifyData.uID = id;
    notifyData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    notifyData.uCallbackMessage = callbackMessage;
    notifyData.hIcon = icon;
    CopyTrayTip(tip, notifyData.szTip);
    addFlags = notifyData.uFlags;

    const bool added = ui.ShellNotifyIcon(NIM_ADD, notifyData);
    hidden = !added;
    removed = !added;
    return added;
}

bool CSystemTray::ChangeTrayIcon(IconHandle icon) {
    if (!created) return false;
    notifyData.uFlags = NIF_ICON;
    notifyData.hIcon = icon;
    if (hidden) return true;  // kept for a later re-add
    return agent_.ports.ui->ShellNotifyIcon(NIM_MODIFY, notifyData);
}

bool CSystemTray::RemoveTrayIcon() {
    if (!created || removed) return true;
    notifyData.uFlags = 0;
    if (!agent_.ports.ui->ShellNotifyIcon(NIM_DELETE, notifyData)) return false;
    hidden = true;
    removed = true;
    return true;
}

intptr CSystemTray::OnTaskbarRestart() {
    if (hidden) return 0;
    notifyData.uFlags = addFlags;
    hidden = !agent_.ports.ui->ShellNotifyIcon(NIM_ADD, notifyData);
    return 0;
}

bool CSystemTray::HandleMessage(WindowHandle window, unsigned message, uintptr, intptr,
                                intptr& result) {
    if (window_ == NULL) window_ = window;
    if (message != 0 && message == agent_.taskbarCreatedMessage) {
        result = OnTaskbarRestart();
        return true;
    }
    return false;
}

}  // namespace lumivo
