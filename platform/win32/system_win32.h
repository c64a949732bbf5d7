#pragma once
// The platform's core services on Windows: each call is the Windows call of
// the same name (wide-character forms, as Windows Embedded Compact has them).

#include <vector>

#include "platform/system_port.h"

namespace lumivo {

class Win32System : public SystemPort {
  public:
    Win32System() = default;
    ~Win32System() override;
    Win32System(const Win32System&) = delete;
    Win32System& operator=(const Win32System&) = delete;

    std::wstring GetCommandLine() override;
    std::wstring GetModuleFileName() override;
    MutexHandle CreateMutex(const std::wstring& name, bool initialOwner) override;
    void CloseHandle(MutexHandle handle) override;
    unsigned long GetLastError() override;
    TimerId SetTimer(unsigned elapseMs, std::function<void()> procedure) override;
    bool KillTimer(TimerId id) override;
    bool GetMessage(Message& message) override;
    void TranslateMessage(const Message& message) override;
    void DispatchMessage(const Message& message) override;
    void PostQuitMessage(int exitCode) override;
    WindowHandle FindWindow(const std::wstring& title) override;
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                   unsigned type) override;
    unsigned RegisterWindowMessage(const std::wstring& name) override;
    void Sleep(unsigned milliseconds) override;

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
