#pragma once
// The platform's core services, shaped like the Windows calls they stand
// for: command line, named mutex, window-less timers, the message loop,
// cross-process window messages, message boxes, sleeping, last error.

#include <cstddef>
#include <string>

#include "platform/portable.h"

namespace lumivo {

typedef void* WindowHandle;
typedef void* MutexHandle;
typedef uintptr TimerId;

// One message of the loop, field for field like the platform's MSG.
struct Message {
    Message() : window(NULL), message(0), wParam(0), lParam(0) {}
    Message(WindowHandle window, unsigned message, uintptr wParam, intptr lParam)
        : window(window), message(message), wParam(wParam), lParam(lParam) {}
    WindowHandle window;
    unsigned message;
    uintptr wParam;
    intptr lParam;
};

const unsigned long ERROR_ALREADY_EXISTS = 183;
// Not a Windows number (bit 29 marks an application's own code): the platform
// could not set up the single-instance guard for a reason it has written
// itself (on POSIX, a runtime folder it refuses). No other copy is known to run.
const unsigned long ERROR_NO_INSTANCE_GUARD = 0x20000001UL;

// Message box buttons, icons and answers, with the platform's numbers.
const unsigned MB_OK = 0x0;
const unsigned MB_YESNO = 0x4;
const unsigned MB_ICONEXCLAMATION = 0x30;
const int IDOK = 1;
const int IDCANCEL = 2;
const int IDYES = 6;
const int IDNO = 7;

// What the agent is doing, for a service manager that supervises it.
struct AgentActivity {
    enum Value { SigningIn, Running, VpnUp, ShuttingDown };
};

// The procedure of a window-less timer (TIMERPROC): the message loop runs it
// inside DispatchMessage with the timer's id. Whoever sets the timer keeps
// the procedure alive until the timer is killed.
class TimerProcedure {
  public:
    virtual void OnTimer(TimerId id) = 0;

  protected:
    ~TimerProcedure() {}
};

class SystemPort {
  public:
    virtual ~SystemPort() {}

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
    virtual TimerId SetTimer(unsigned elapseMs, TimerProcedure& procedure) = 0;
    virtual bool KillTimer(TimerId id) = 0;

    // The blocking message loop: GetMessage gives false for the quit message.
    virtual bool GetMessage(Message& message) = 0;
    virtual void TranslateMessage(const Message& message) = 0;
    virtual void DispatchMessage(const Message& message) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;

    // FindWindowW by exact title, and a synchronous SendMessageW to it,
    // also when the window belongs to another process.
    virtual WindowHandle FindWindow(const std::wstring& title) = 0;
    virtual intptr SendMessage(WindowHandle window, unsigned message, uintptr wParam,
                               intptr lParam) = 0;

    virtual int MessageBox(WindowHandle owner, const std::wstring& text,
                           const std::wstring& caption, unsigned type) = 0;
    virtual unsigned RegisterWindowMessage(const std::wstring& name) = 0;
    virtual void Sleep(unsigned milliseconds) = 0;

    // Tells a supervising service manager what the agent does now (the VPN's
    // address with VpnUp). Platforms without one ignore it.
    virtual void ReportActivity(AgentActivity::Value, const std::string& /*vpnAddress*/) {}
};

}  // namespace lumivo
