#pragma once
// The window-system port on the Windows user interface: dialogs from the
// program's own resources, the common controls' tab control, the shell's
// notification icon.

#include <map>

#include "platform/portable.h"
#include "platform/ui_port.h"

namespace lumivo {

class Win32System;

class Win32Ui : public UiPort, private NonCopyable {
  public:
    // The top-level dialogs made here get their keyboard handling from the
    // message loop of `system`; without one they get none.
    explicit Win32Ui(Win32System* system = NULL);
    ~Win32Ui();

    WindowHandle CreateDialogParam(int templateId, WindowHandle parent, WindowProcedure& procedure);
    bool RegisterClass(const std::wstring& className);
    WindowHandle CreateWindowEx(uint32 exStyle, const std::wstring& className,
                                const std::wstring& title, uint32 style, int x, int y, int width,
                                int height, WindowHandle parent, WindowProcedure& procedure);
    bool DestroyWindow(WindowHandle window);
    WindowHandle GetDlgItem(WindowHandle dialog, int id);
    WindowHandle GetParent(WindowHandle window);
    bool SetWindowText(WindowHandle window, const std::wstring& text);
    std::wstring GetWindowText(WindowHandle window);
    bool EnableWindow(WindowHandle window, bool enable);
    bool IsWindowEnabled(WindowHandle window);
    bool ShowWindow(WindowHandle window, int command);
    bool IsWindowVisible(WindowHandle window);
    intptr SendMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam);
    bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width,
                      int height, unsigned flags);
    bool GetWindowRect(WindowHandle window, Rect& rect);
    int GetSystemMetrics(int index);
    bool SetForegroundWindow(WindowHandle window);
    IconHandle LoadIcon(int resourceId);
    bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data);
    std::wstring AnsiToWide(const std::string& text);
    std::string WideToAnsi(const std::wstring& text);

    // The procedure of a window made here, and where the window keeps it:
    // a dialog in DWL_USER, a plain window in GWL_USERDATA.
    struct Binding {
        Binding(Win32Ui* owner, WindowProcedure* windowProcedure, bool isDialog)
            : ui(owner), procedure(windowProcedure), dialog(isDialog) {}
        Win32Ui* ui;
        WindowProcedure* procedure;
        bool dialog;
    };
    // Called by the windows' procedures at WM_DESTROY: the window's binding
    // is released and the window no longer reaches its procedure.
    void Forget(WindowHandle window);

  private:
    Win32System* system_;
    // Bindings of live windows, owned here from creation until WM_DESTROY
    // (Compact sends no WM_NCDESTROY).
    typedef std::map<WindowHandle, Binding*> BindingMap;
    BindingMap bindings_;
};

}  // namespace lumivo
