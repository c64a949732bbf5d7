#pragma once
// The headless user interface on POSIX: in-memory windows and controls built
// from the resource script's dialog templates, with the platform behaviour
// the dialogs rely on:
//  - setting an edit control's text sends EN_CHANGE to its parent;
//  - clicking an automatic check box toggles it, then sends BN_CLICKED;
//  - a hidden window keeps its state; a window is visible only while its
//    parents are;
//  - top-level dialogs are registered with the POSIX system by title, so a
//    second copy of the agent finds them and its sends arrive here;
//  - SIGINT and SIGTERM reach the first top-level dialog as the exit
//    command (WM_COMMAND, ID_APP_EXIT).
// Geometry: one dialog unit is 2 by 2 pixels; the screen is 800 by 480;
// tab items are 20 pixels high, 2 pixels in from the control's corner.
//
// With LUMIVO_UI_TRACE=<file> every visible change is appended to the file
// as one line: dialogs and pages shown or hidden (with size), tab selection,
// tray icon added, changed or deleted (with icon number and tooltip), static
// texts set and buttons enabled or disabled (as template/control id). Texts
// of edit controls are left out: they may be passwords.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/window_tree.h"
#include "platform/ui_port.h"
#include "resources/resource_script.h"

namespace lumivo {

// The page keys, which the dialogs themselves never handle.
inline constexpr unsigned VK_PRIOR = 0x21;
inline constexpr unsigned VK_NEXT = 0x22;

struct PosixUiWindow;

class PosixUi : public WindowTree<PosixUiWindow> {
  public:
    static constexpr int screenWidth = 800;
    static constexpr int screenHeight = 480;

    // `system` may be null: the windows are then found by nobody else.
    explicit PosixUi(PosixSystem* system);
    ~PosixUi() override;


    WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                   WindowProcedure& procedure) override;
    WindowHandle CreateWindowEx(std::uint32_t exStyle, const std::wstring& className,
                                const std::wstring& title, std::uint32_t style, int x, int y,
                                int width, int height, WindowHandle parent,
                                WindowProcedure& procedure) override;
    bool DestroyWindow(WindowHandle window) override;
    bool SetWindowText(WindowHandle window, const std::wstring& text) override;
    std::wstring GetWindowText(WindowHandle window) override;
    bool EnableWindow(WindowHandle window, bool enable) override;
    bool IsWindowEnabled(WindowHandle window) override;
    bool ShowWindow(WindowHandle window, int command) override;
    bool IsWindowVisible(WindowHandle window) override;
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width,
                      int height, unsigned flags) override;
    int GetSystemMetrics(int index) override;
    bool SetForegroundWindow(WindowHandle window) override;
    IconHandle LoadIcon(int resourceId) override;
    bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data) override;
    std::wstring AnsiToWide(const std::string& text) override;
    std::string WideToAnsi(const std::wstring& text) override;

    // --- What a user does ---
    // A tap on a button or check box; false when it is disabled or not visible.
    bool Click(WindowHandle control);
    // Typing that replaces an edit control's text; false when it is read-only,
    // disabled or not visible.
    bool Type(WindowHandle edit, const std::wstring& text);
    // A tap on tab item `index`: selects it and notifies the tab's parent.
    bool ClickTab(WindowHandle tab, int index);
    // The caption's OK button and its close box.
    bool PressOk(WindowHandle dialog);
    bool PressClose(WindowHandle dialog);
    // A key pressed on the control that has the focus, handled before it
    // reaches the control as the platform's dialog manager does it for a
    // modeless dialog: Enter presses a focused push button and is the
    // dialog's IDOK otherwise, Escape its IDCANCEL; Tab and Shift+Tab move
    // the focus through the tab stops that can be seen (those of the page
    // shown); Left and Right on the tab control select the tab beside; Space
    // clicks a focused button; Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown and
    // Ctrl+PageUp select the next or previous tab, round the row. The tab
    // control is a tab stop after the page shown. False when no control of a
    // shown dialog has the focus. Clicks and typing move the focus to their control.
    bool PressKey(unsigned virtualKey, bool shift = false, bool control = false);
    // A tap (down, up) and a double tap (down, up, double-click, up) on the
    // tray icon; false when there is no icon. The answers are kept in `TrayAnswers`.
    bool TapTrayIcon();
    bool DoubleTapTrayIcon();
    // The shell re-creates the taskbar: every icon is lost, then every
    // top-level window gets the registered "TaskbarCreated" message.
    void RestartTaskbar(unsigned taskbarCreatedMessage);
    // Makes the shell refuse (or accept again) every notification-icon call.
    void SetShellRefuses(bool refuses) { shellRefuses_ = refuses; }

    // --- What a user sees ---
    struct TrayIcon {
        WindowHandle window = nullptr;
        std::uint32_t id = 0;
        std::uint32_t callbackMessage = 0;
        int iconResource = 0;
        std::wstring tip;
    };
    std::optional<TrayIcon> CurrentTrayIcon() const;
    const std::vector<std::intptr_t>& TrayAnswers() const { return trayAnswers_; }
    int TemplateOf(WindowHandle window) const;
    std::vector<std::wstring> TabTexts(WindowHandle tab) const;
    std::intptr_t TabParameter(WindowHandle tab, int index) const;
    bool IsTopmost(WindowHandle window) const;
    WindowHandle ForegroundWindow() const { return foreground_; }
    WindowHandle Focus() const { return focus_; }
    int IconResourceOf(IconHandle icon) const;
    IconHandle WindowIcon(WindowHandle window, bool big) const;

  private:
    using Window = PosixUiWindow;
    friend struct PosixUiWindow;
    struct TabEntry {
        std::wstring text;
        std::intptr_t parameter = 0;
    };

    Window* MakeWindow(Window* parent, const std::string& className, std::uint32_t style);
    void DestroyTree(Window* window);
    bool IsVisible(const Window* window) const;
    Rect TabItemRect(const Window* tab, int index) const;
    void SelectTab(Window* tab, int index);
    bool Contains(const Window* outer, const Window* inner) const;
    std::vector<Window*> TabStops(Window* dialog) const;
    Window* TabControlOf(Window* dialog) const;
    Window* Next(const std::vector<Window*>& stops, const Window* from, bool backwards) const;
    void SendTrayMouse(unsigned mouseMessage);
    void Trace(const std::string& line) const;
    std::string Describe(const Window* window) const;
    std::string ItemName(const Window* control) const;

    std::string tracePath_;

    std::map<int, std::unique_ptr<int>> icons_;  // a handle points at its resource number
    std::vector<TrayIcon> tray_;
    std::vector<std::intptr_t> trayAnswers_;
    WindowHandle foreground_ = nullptr;
    WindowHandle focus_ = nullptr;
    bool shellRefuses_ = false;
};

extern template class WindowTree<PosixUiWindow>;

}  // namespace lumivo
