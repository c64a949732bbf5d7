#pragma once
// The agent's icon in the shell's notification area: added with a tooltip,
// its image changed on request, deleted on quit, and added again when the
// shell announces that the taskbar was re-created.

#include <cstdint>
#include <string>

#include "base/agent.h"
#include "platform/ui_port.h"

namespace lumivo {

class CSystemTray {
  public:
    explicit CSystemTray(Agent& agent);
    ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // `owner` receives the callback message; without one the tray's own
    // hidden window does.
    bool AddTrayIcon(WindowHandle owner, unsigned callbackMessage, const std::wstring& tip,
                     IconHandle icon, std::uint32_t id);
    bool ChangeTrayIcon(IconHandle icon);
    bool RemoveTrayIcon();

    // The shell has re-created the taskbar, and with it lost every icon.
    std::intptr_t OnTaskbarRestart();

    const NotifyIconData& Data() const { return notifyData; }
    bool IsCreated() const { return created; }
    bool IsHidden() const { return hidden; }
    bool IsRemoved() const { return removed; }
    WindowHandle GetSafeHwnd() const { return window_; }

  private:
    bool Procedure(WindowHandle window, unsigned message, std::uintptr_t wParam,
                   std::intptr_t lParam, std::intptr_t& result);

    Agent& agent_;
    WindowHandle window_ = nullptr;
    NotifyIconData notifyData{};
    bool created = false;
    bool hidden = true;
    bool removed = true;
    std::uint32_t addFlags = 0;
};

// Fills `tip` with at most 63 UTF-16 units of `text` and a terminating zero;
// a character is never cut in half.
void CopyTrayTip(const std::wstring& text, char16_t (&tip)[notifyTipUnits]);

}  // namespace lumivo
