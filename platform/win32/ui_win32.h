#pragma once
// The window-system port on the Windows user interface: dialogs from the
// program's own resources, the common controls' tab control, the shell's
// notification icon.

#include <map>
#include <memory>

#include "platform/ui_port.h"

namespace lumivo {

class Win32System;

class Win32Ui : public UiPort {
  public:
    // The top-level dialogs made here get their keyboard handling from the
    // message loop of `system`; without one they get none.
    explicit Win32Ui(Win32System* system = nullptr);
    ~Win32Ui() override;
    Win32Ui(const Win32Ui&) = delete;
    Win32Ui& operator=(const Win32Ui&) = delete;

    WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                   WindowProcedure procedure) override;
    bool RegisterClass(const std::wstring& className) override;
    WindowHandle CreateWindowEx(std::uint32_t exStyle, const std::wstring& className,
                                const std::wstring& title, std::uint32_t style, int x, int y,
                                int width, int height, WindowHandle parent,
                                WindowProcedure procedure) override;
    bool DestroyWindow(WindowHandle window) override;
    WindowHandle GetDlgItem(WindowHandle dialog, int id) override;
    WindowHandle GetParent(WindowHandle window) override;
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
    bool GetWindowRect(WindowHandle window, Rect& rect) override;
    int GetSystemMetrics(int index) override;
    bool SetForegroundWindow(WindowHandle window) override;
    IconHandle LoadIcon(int resourceId) override;
    bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data) override;
    std::wstring AnsiToWide(const std::string& text) override;
    std::string WideToAnsi(const std::wstring& text) override;

    // The procedure of a window made here, with the window it belongs to.
    struct Binding {
        Win32Ui* ui = nullptr;
        WindowProcedure procedure;
    };
    // Called by the windows' procedures when the window is gone for good.
    void Forget(WindowHandle window);

  private:
    Win32System* system_;
    // Procedures of live windows, owned here until WM_NCDESTROY.
    std::map<WindowHandle, std::unique_ptr<Binding>> bindings_;
};

}  // namespace lumivo
