#pragma once
// The agent's icon in the shell's notification area: added with a tooltip,
// its image changed on request, deleted on quit, and added again when the
// shell announces that the taskbar was re-created.

#include <string>

#include "base/agent.h"
#include "platform/portable.h"
#include "platform/ui_port.h"

namespace lumivo {

// The tray object is its hidden window's procedure.
class CSystemTray : private WindowProcedure, private NonCopyable {
  public:
    explicit CSystemTray(Agent& agent);
    ~CSystemTray();

    // `owner` receives the callback message; without one the tray's own
    // hidden window does.
    bool AddTrayIcon(WindowHandle owner, unsigned callbackMessage, const std::wstring& tip,
                     IconHandle icon, uint32 id);
    bool ChangeTrayIcon(IconHandle icon);
    bool RemoveTrayIcon();

    // The shell has re-created the taskbar, and with it lost every icon.
    intptr OnTaskbarRestart();

    const NotifyIconData& Data() const { return notifyData; }
    bool IsCreated() const { return created; }
    bool IsHidden() const { return hidden; }
    bool IsRemoved() const { return removed; }
    WindowHandle GetSafeHwnd() const { return window_; }

  private:
    bool HandleMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam,
                       intptr& result);

    Agent& agent_;
    WindowHandle window_;
    NotifyIconData notifyData;
    bool created;
    bool hidden;
    bool removed;
    uint32 addFlags;
};

// Fills `tip` with at most 63 UTF-16 units of `text` and a terminating zero;
// a character is never cut in half.
void CopyTrayTip(const std::wstring& text, uint16 (&tip)[notifyTipUnits]);

}  // namespace lumivo
