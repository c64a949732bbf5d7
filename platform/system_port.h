#pragma once
// The platform's core services, shaped like the Windows calls they stand
// for: command line, named mutex, window-less timers, the message loop,
// cross-process window messages, message boxes, sleeping, last error.

#include <cstdint>
#include <functional>
#include <string>

namespace lumivo {

using WindowHandle = void*;
using MutexHandle = void*;
using TimerId = std::uintptr_t;

// One message of the loop, field for field like the platform's MSG.
struct Message {
    WindowHandle window = nullptr;
    unsigned message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

inline constexpr unsigned long ERROR_ALREADY_EXISTS = 183;
// Not a Windows number (bit 29 marks an application's own code): the platform
// could not set up the single-instance guard for a reason it has written
// itself (on POSIX, a runtime folder it refuses). No other copy is known to run.
const unsigned long ERROR_NO_INSTANCE_GUARD = 0x20000001UL;

// Message box buttons, icons and answers, with the platform's numbers.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// What the agent is doing, for a service manager that supervises it.
enum class AgentActivity { SigningIn, Running, VpnUp, ShuttingDown };

class SystemPort {
public:
    virtual ~SystemPort() = default;

    // GetCommandLineW: the whole command line as one text.
    virtual std::wstring GetCommandLine() = 0;
    // GetModuleFileNameW: the full path of the program's own file (at most 260 characters).
    virtual std::wstring GetModuleFileName() = 0;

    // CreateMutexW: a named mutex, initially owned when asked; null on failure.
    // GetLastError tells ERROR_ALREADY_EXISTS when another process holds it.
    virtual MutexHandle CreateMutex(const std::wstring& name, bool initialOwner) = 0;
    virtual void CloseHandle(MutexHandle handle) = 0;
    virtual unsigned long GetLastError() = 0;

    // SetTimer without a window: the procedure runs inside DispatchMessage.
    virtual TimerId SetTimer(unsigned elapseMs, std::function<void()> procedure) = 0;
    virtual bool KillTimer(TimerId id) = 0;

    // The blocking message loop: GetMessage gives false for the quit message.
    virtual bool GetMessage(Message& message) = 0;
    virtual void TranslateMessage(const Message& message) = 0;
    virtual void DispatchMessage(const Message& message) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;

    // FindWindowW by exact title, and a synchronous SendMessageW to it,
    // also when the window belongs to another process.
    virtual WindowHandle FindWindow(const std::wstring& title) = 0;
    virtual std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                      std::intptr_t lParam) = 0;

    virtual int MessageBox(WindowHandle owner, const std::wstring& text,
                           const std::wstring& caption, unsigned type) = 0;
    virtual unsigned RegisterWindowMessage(const std::wstring& name) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // Tells a supervising service manager what the agent does now (the VPN's
    // address with VpnUp). Platforms without one ignore it.
    virtual void ReportActivity(AgentActivity, const std::string& /*vpnAddress*/) {}
};

}  // namespace lumivo
