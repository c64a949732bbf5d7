#include "platform/win32/system_win32.h"

#include "platform/win32/windows_api.h"

#include <algorithm>
#include <map>

namespace lumivo {

namespace {

// A window-less timer's procedure gets only the timer id from Windows, so the
// procedures are found by id. Timers belong to the thread that runs the loop,
// and the agent has one such thread.
// The procedures belong to whoever set the timers, which keeps them alive
// until the timers are killed.
typedef std::map<UINT_PTR, TimerProcedure*> TimerMap;

TimerMap& TimerProcedures() {
    static TimerMap procedures;
    return procedures;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    TimerMap::iterator found = TimerProcedures().find(id);
    if (found == TimerProcedures().end()) return;
    // The procedure may kill its own timer while it runs: nothing of the map
    // is used after the call.
    found->second->OnTimer(id);
}

MSG ToMsg(const Message& message) {
    MSG msg = MSG();
    msg.hwnd = static_cast<HWND>(message.window);
    msg.message = message.message;
    msg.wParam = static_cast<WPARAM>(message.wParam);
    msg.lParam = static_cast<LPARAM>(message.lParam);
    return msg;
}

// Gives a key meant for a modeless dialog, or for a control in it, to the
// dialog's keyboard handling; true when the dialog has dealt with it.
bool HandledByDialog(const std::vector<WindowHandle>& dialogs, MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    for (std::size_t i = 0; i < dialogs.size(); ++i) {
        HWND dialog = static_cast<HWND>(dialogs[i]);
        if (msg.hwnd != dialog && !::IsChild(dialog, msg.hwnd)) continue;
        const bool keyDown = msg.message == WM_KEYDOWN;
        if (!::IsWindowVisible(msg.hwnd)) {
            // The dialog came back with the focus it had when it went away,
            // in a page hidden since then: keys would reach a control nobody
            // sees. The first control that can be seen takes the focus, and
            // a Tab has done its work with that.
            HWND first = ::GetNextDlgTabItem(dialog, NULL, FALSE);
            if (first == NULL || !::IsWindowVisible(first)) return false;
            ::SetFocus(first);
            msg.hwnd = first;
            if (keyDown && msg.wParam == VK_TAB) return true;
        }
        // Enter on a push button presses it. The dialog's own handling would
        // send the button's command to the top dialog, not to the page that
        // holds the button.
        if (keyDown && msg.wParam == VK_RETURN && ::GetParent(msg.hwnd) != dialog &&
            (::SendMessageW(msg.hwnd, WM_GETDLGCODE, 0, 0) &
             (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0) {
            ::SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
            return true;
        }
        // The dialog's handling may destroy windows, and so change the list:
        // nothing of it is used after the call.
        return ::IsDialogMessageW(dialog, &msg) != FALSE;
    }
    return false;
}

}  // namespace

Win32System::~Win32System() {
    TimerMap& procedures = TimerProcedures();
    for (TimerMap::iterator timer = procedures.begin(); timer != procedures.end(); ++timer)
        ::KillTimer(NULL, timer->first);
    TimerProcedures().clear();
}

std::wstring Win32System::GetCommandLine() {
    const wchar_t* text = ::GetCommandLineW();
    return text ? std::wstring(text) : std::wstring();
}

std::wstring Win32System::GetModuleFileName() {
    wchar_t path[MAX_PATH + 1] = {0};
    DWORD length = ::GetModuleFileNameW(NULL, path, MAX_PATH);
    return std::wstring(path, length);
}

MutexHandle Win32System::CreateMutex(const std::wstring& name, bool initialOwner) {
    return ::CreateMutexW(NULL, initialOwner ? TRUE : FALSE, name.c_str());
}

void Win32System::CloseHandle(MutexHandle handle) {
    if (handle) ::CloseHandle(static_cast<HANDLE>(handle));
}

unsigned long Win32System::GetLastError() { return ::GetLastError(); }

TimerId Win32System::SetTimer(unsigned elapseMs, TimerProcedure& procedure) {
    UINT_PTR id = ::SetTimer(NULL, 0, elapseMs, OnTimer);
    if (id != 0) TimerProcedures()[id] = &procedure;
    return id;
}

bool Win32System::KillTimer(TimerId id) {
    TimerProcedures().erase(id);
    return ::KillTimer(NULL, id) != FALSE;
}

bool Win32System::GetMessage(Message& message) {
    MSG msg = MSG();
    BOOL result;
    // -1 (an error) ends the loop as the quit message does: it would repeat for ever.
    do {
        result = ::GetMessageW(&msg, NULL, 0, 0);
    } while (result > 0 && HandledByDialog(dialogs_, msg));
    message.window = msg.hwnd;
    message.message = msg.message;
    message.wParam = msg.wParam;
    message.lParam = msg.lParam;
    return result > 0;
}

void Win32System::AddDialog(WindowHandle dialog) {
    if (dialog != NULL && std::find(dialogs_.begin(), dialogs_.end(), dialog) == dialogs_.end())
        dialogs_.push_back(dialog);
}

void Win32System::RemoveDialog(WindowHandle dialog) {
    dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), dialog), dialogs_.end());
}

void Win32System::TranslateMessage(const Message& message) {
    MSG msg = ToMsg(message);
    ::TranslateMessage(&msg);
}

void Win32System::DispatchMessage(const Message& message) {
    MSG msg = ToMsg(message);
    ::DispatchMessageW(&msg);
}

void Win32System::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

WindowHandle Win32System::FindWindow(const std::wstring& title) {
    return ::FindWindowW(NULL, title.c_str());
}

intptr Win32System::SendMessage(WindowHandle window, unsigned message, uintptr wParam,
                                intptr lParam) {
    return ::SendMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

int Win32System::MessageBox(WindowHandle owner, const std::wstring& text,
                            const std::wstring& caption, unsigned type) {
    return ::MessageBoxW(static_cast<HWND>(owner), text.c_str(), caption.c_str(), type);
}

unsigned Win32System::RegisterWindowMessage(const std::wstring& name) {
    return ::RegisterWindowMessageW(name.c_str());
}

void Win32System::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

}  // namespace lumivo
