#pragma once
// The platform's core services on Windows: each call is the Windows call of
// the same name (wide-character forms, as Windows Embedded Compact has them).

#include <vector>

#include "platform/portable.h"
#include "platform/system_port.h"

namespace lumivo {

class Win32System : public SystemPort, private NonCopyable {
  public:
    Win32System() {}
    ~Win32System();

    std::wstring GetCommandLine();
    std::wstring GetModuleFileName();
    MutexHandle CreateMutex(const std::wstring& name, bool initialOwner);
    void CloseHandle(MutexHandle handle);
    unsigned long GetLastError();
    TimerId SetTimer(unsigned elapseMs, TimerProcedure& procedure);
    bool KillTimer(TimerId id);
    bool GetMessage(Message& message);
    void TranslateMessage(const Message& message);
    void DispatchMessage(const Message& message);
    void PostQuitMessage(int exitCode);
    WindowHandle FindWindow(const std::wstring& title);
    intptr SendMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam);
    int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                   unsigned type);
    unsigned RegisterWindowMessage(const std::wstring& name);
    void Sleep(unsigned milliseconds);

    // Modeless top-level dialogs. GetMessage hands the keys meant for one of
    // them or its controls to the dialog's own keyboard handling
    // (IsDialogMessageW: Enter, Escape, Tab, arrows), as the framework does
    // for a modeless dialog; such a key never reaches the caller.
    void AddDialog(WindowHandle dialog);
    void RemoveDialog(WindowHandle dialog);

  private:
    std::vector<WindowHandle> dialogs_;
};

}  // namespace lumivo
