#include "platform/win32/ui_win32.h"

#include <vector>

#include "platform/win32/system_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {

enum {
#ifdef _WIN32_WCE
    trayRecordCheck = CompileCheck<(sizeof(NOTIFYICONDATA) == notifyIconDataSize)>::holds,
#elif !defined(_WIN64)
    // 32-bit desktop Windows: the full record of its headers.
    trayRecordCheck = CompileCheck<(sizeof(NOTIFYICONDATA) == 956)>::holds,
#endif
    // Message parameters and handles cross the port as integers and pointers
    // of the machine's word size, as on every Windows target.
    wordSizeCheck = CompileCheck<(
        sizeof(WPARAM) == sizeof(uintptr) && sizeof(LPARAM) == sizeof(intptr) &&
        sizeof(LRESULT) == sizeof(intptr) && sizeof(HWND) == sizeof(WindowHandle))>::holds
};

namespace {

HINSTANCE Instance() { return ::GetModuleHandleW(NULL); }

// Where a window keeps its binding. Compact's pointers are 32 bits wide and
// its headers name the slots DWL_ and GWL_ for Get/SetWindowLong; 64-bit
// Windows needs the pointer-wide calls and slots.
#ifdef _WIN32_WCE
const int dialogBindingSlot = DWL_USER;
const int dialogResultSlot = DWL_MSGRESULT;
const int windowBindingSlot = GWL_USERDATA;
LONG_PTR GetWindowData(HWND window, int slot) { return ::GetWindowLong(window, slot); }
void SetWindowData(HWND window, int slot, LONG_PTR value) { ::SetWindowLong(window, slot, value); }
#else
const int dialogBindingSlot = DWLP_USER;
const int dialogResultSlot = DWLP_MSGRESULT;
const int windowBindingSlot = GWLP_USERDATA;
LONG_PTR GetWindowData(HWND window, int slot) { return ::GetWindowLongPtr(window, slot); }
void SetWindowData(HWND window, int slot, LONG_PTR value) {
    ::SetWindowLongPtr(window, slot, value);
}
#endif

Win32Ui::Binding* BindingIn(HWND window, int slot) {
    return reinterpret_cast<Win32Ui::Binding*>(GetWindowData(window, slot));
}

// The port's records mirror the platform's; lParam values that point to them
// are translated here rather than cast, so either side may change.
bool CallProcedure(Win32Ui::Binding* binding, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT& result) {
    if (binding == NULL) return false;
    intptr answer = 0;
    bool handled;
    if (message == WM_NOTIFY && lParam != 0) {
        const NMHDR* platform = reinterpret_cast<const NMHDR*>(lParam);
        NotifyHeader header;
        header.hwndFrom = platform->hwndFrom;
        header.idFrom = platform->idFrom;
        header.code = platform->code;
        handled = binding->procedure->HandleMessage(window, message, wParam,
                                                    reinterpret_cast<intptr>(&header), answer);
    } else {
        handled = binding->procedure->HandleMessage(window, message, wParam, lParam, answer);
    }
    result = answer;
    return handled;
}

// The window's last message on Compact, which sends no WM_NCDESTROY: the
// binding is released after the procedure has seen it.
void Unbind(Win32Ui::Binding* binding, HWND window, int slot) {
    SetWindowData(window, slot, 0);
    if (binding != NULL) binding->ui->Forget(window);
}

// Bound at WM_INITDIALOG, the first message a dialog's procedure handles on
// every Windows; the few before it get the default handling.
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowData(window, dialogBindingSlot, lParam);
    Win32Ui::Binding* binding = BindingIn(window, dialogBindingSlot);
    LRESULT result = 0;
    bool handled = CallProcedure(binding, window, message, wParam, lParam, result);
    if (message == WM_DESTROY) Unbind(binding, window, dialogBindingSlot);
    if (!handled) return FALSE;
    // WM_INITDIALOG answers whether the platform sets the focus; every other
    // message answers its sender through the dialog's message result.
    if (message == WM_INITDIALOG) return result != 0 ? TRUE : FALSE;
    SetWindowData(window, dialogResultSlot, result);
    return TRUE;
}

// Bound at WM_CREATE: Compact sends no WM_NCCREATE.
LRESULT CALLBACK PlainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowData(window, windowBindingSlot,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    Win32Ui::Binding* binding = BindingIn(window, windowBindingSlot);
    LRESULT result = 0;
    bool handled = CallProcedure(binding, window, message, wParam, lParam, result);
    if (message == WM_DESTROY) Unbind(binding, window, windowBindingSlot);
    return handled ? result : ::DefWindowProcW(window, message, wParam, lParam);
}

// The top-level window that holds `window`, by its chain of parents
// (GetAncestor with GA_ROOT; Compact has only GetParent). A top-level
// window's GetParent is its owner, so the walk stops at the first window
// that is not a child.
HWND TopLevelWindowOf(HWND window) {
    HWND parent;
    while ((GetWindowData(window, GWL_STYLE) & WS_CHILD) != 0 &&
           (parent = ::GetParent(window)) != NULL) {
        window = parent;
    }
    return window;
}

}  // namespace

Win32Ui::Win32Ui(Win32System* system) : system_(system) {
    // The tab control is a common control: its class is registered here.
    INITCOMMONCONTROLSEX controls = INITCOMMONCONTROLSEX();
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_TAB_CLASSES;
    ::InitCommonControlsEx(&controls);
}

Win32Ui::~Win32Ui() {
    // Windows still alive must not reach the procedures any more.
    for (BindingMap::iterator found = bindings_.begin(); found != bindings_.end(); ++found) {
        HWND window = static_cast<HWND>(found->first);
        if (::IsWindow(window))
            SetWindowData(window, found->second->dialog ? dialogBindingSlot : windowBindingSlot, 0);
        delete found->second;
    }
}

void Win32Ui::Forget(WindowHandle window) {
    BindingMap::iterator found = bindings_.find(window);
    if (found == bindings_.end()) return;
    delete found->second;
    bindings_.erase(found);
    if (system_ != NULL) system_->RemoveDialog(window);
}

WindowHandle Win32Ui::CreateDialogParam(int templateId, WindowHandle parent,
                                        WindowProcedure& procedure) {
    Binding* binding = new Binding(this, &procedure, true);
    HWND window =
        ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(templateId), static_cast<HWND>(parent),
                             DialogProcedure, reinterpret_cast<LPARAM>(binding));
    if (window == NULL) {
        delete binding;
        return NULL;
    }
    bindings_[window] = binding;
    if (parent == NULL) {
        if (system_ != NULL) system_->AddDialog(window);
    } else {
        // A dialog inside another window (a tab page) is part of the top
        // dialog: Tab walks into it and through its controls, as for a
        // DS_CONTROL template, and the window that holds it must let the walk in.
        HWND hosts[] = {window, static_cast<HWND>(parent)};
        for (int i = 0; i < 2; ++i) {
            LONG_PTR style = GetWindowData(hosts[i], GWL_EXSTYLE);
            SetWindowData(hosts[i], GWL_EXSTYLE, style | WS_EX_CONTROLPARENT);
        }
    }
    return window;
}

bool Win32Ui::RegisterClass(const std::wstring& className) {
    WNDCLASSW windowClass = WNDCLASSW();
    windowClass.lpfnWndProc = PlainWindowProcedure;
    windowClass.hInstance = Instance();
    windowClass.lpszClassName = className.c_str();
    return ::RegisterClassW(&windowClass) != 0;
}

WindowHandle Win32Ui::CreateWindowEx(uint32 exStyle, const std::wstring& className,
                                     const std::wstring& title, uint32 style, int x, int y,
                                     int width, int height, WindowHandle parent,
                                     WindowProcedure& procedure) {
    Binding* binding = new Binding(this, &procedure, false);
    HWND window = ::CreateWindowExW(exStyle, className.c_str(), title.c_str(), style, x, y, width,
                                    height, static_cast<HWND>(parent), NULL, Instance(), binding);
    if (window == NULL) {
        delete binding;
        return NULL;
    }
    bindings_[window] = binding;
    return window;
}

bool Win32Ui::DestroyWindow(WindowHandle window) {
    return ::DestroyWindow(static_cast<HWND>(window)) != FALSE;
}

WindowHandle Win32Ui::GetDlgItem(WindowHandle dialog, int id) {
    return ::GetDlgItem(static_cast<HWND>(dialog), id);
}

WindowHandle Win32Ui::GetParent(WindowHandle window) {
    return ::GetParent(static_cast<HWND>(window));
}

bool Win32Ui::SetWindowText(WindowHandle window, const std::wstring& text) {
    return ::SetWindowTextW(static_cast<HWND>(window), text.c_str()) != FALSE;
}

std::wstring Win32Ui::GetWindowText(WindowHandle window) {
    int length = ::GetWindowTextLengthW(static_cast<HWND>(window));
    std::vector<wchar_t> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    int copied =
        ::GetWindowTextW(static_cast<HWND>(window), &text[0], static_cast<int>(text.size()));
    return std::wstring(&text[0], copied > 0 ? copied : 0);
}

bool Win32Ui::EnableWindow(WindowHandle window, bool enable) {
    HWND control = static_cast<HWND>(window);
    if (!enable && control != NULL && ::GetFocus() == control) {
        // A disabled control loses the focus, and the keys would then reach
        // no control at all ("Save" disables itself when clicked): the next
        // tab stop of the dialog takes the focus, or the dialog itself.
        HWND dialog = TopLevelWindowOf(control);
        HWND next = ::GetNextDlgTabItem(dialog, control, FALSE);
        if (next != NULL && next != control) {
            ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
        } else {
            ::SetFocus(dialog);
        }
    }
    return ::EnableWindow(control, enable ? TRUE : FALSE) != FALSE;
}

bool Win32Ui::IsWindowEnabled(WindowHandle window) {
    return ::IsWindowEnabled(static_cast<HWND>(window)) != FALSE;
}

bool Win32Ui::ShowWindow(WindowHandle window, int command) {
    return ::ShowWindow(static_cast<HWND>(window), command) != FALSE;
}

bool Win32Ui::IsWindowVisible(WindowHandle window) {
    return ::IsWindowVisible(static_cast<HWND>(window)) != FALSE;
}

intptr Win32Ui::SendMessage(WindowHandle window, unsigned message, uintptr wParam, intptr lParam) {
    HWND target = static_cast<HWND>(window);
    if (message == TCM_INSERTITEMW && lParam != 0) {
        const TabItem* item = reinterpret_cast<const TabItem*>(lParam);
        TCITEMW platform = TCITEMW();
        platform.mask = item->mask;
        platform.dwState = item->dwState;
        platform.dwStateMask = item->dwStateMask;
        platform.pszText = item->pszText;
        platform.cchTextMax = item->cchTextMax;
        platform.iImage = item->iImage;
        platform.lParam = item->lParam;
        return ::SendMessageW(target, message, wParam, reinterpret_cast<LPARAM>(&platform));
    }
    if (message == TCM_GETITEMRECT && lParam != 0) {
        RECT platform = RECT();
        LRESULT result =
            ::SendMessageW(target, message, wParam, reinterpret_cast<LPARAM>(&platform));
        Rect* rect = reinterpret_cast<Rect*>(lParam);
        rect->left = platform.left;
        rect->top = platform.top;
        rect->right = platform.right;
        rect->bottom = platform.bottom;
        return result;
    }
    return ::SendMessageW(target, message, wParam, lParam);
}

bool Win32Ui::SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width,
                           int height, unsigned flags) {
    return ::SetWindowPos(static_cast<HWND>(window), static_cast<HWND>(insertAfter), x, y, width,
                          height, flags) != FALSE;
}

bool Win32Ui::GetWindowRect(WindowHandle window, Rect& rect) {
    RECT platform = RECT();
    if (!::GetWindowRect(static_cast<HWND>(window), &platform)) return false;
    rect.left = platform.left;
    rect.top = platform.top;
    rect.right = platform.right;
    rect.bottom = platform.bottom;
    return true;
}

int Win32Ui::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

bool Win32Ui::SetForegroundWindow(WindowHandle window) {
    return ::SetForegroundWindow(static_cast<HWND>(window)) != FALSE;
}

IconHandle Win32Ui::LoadIcon(int resourceId) {
    return ::LoadIconW(Instance(), MAKEINTRESOURCEW(resourceId));
}

bool Win32Ui::ShellNotifyIcon(unsigned operation, const NotifyIconData& data) {
    // The platform's own record: on the desktop a larger one than the board's,
    // with its own size in cbSize.
    NOTIFYICONDATA platform = NOTIFYICONDATA();
    platform.cbSize = sizeof platform;
    platform.hWnd = static_cast<HWND>(data.hWnd);
    platform.uID = data.uID;
    platform.uFlags = data.uFlags;
    platform.uCallbackMessage = data.uCallbackMessage;
    platform.hIcon = static_cast<HICON>(data.hIcon);
    // The platform's tooltip holds the board's.
    enum {
        tipCheck = CompileCheck<(sizeof platform.szTip / sizeof platform.szTip[0] >=
                                 static_cast<std::size_t>(notifyTipUnits))>::holds
    };
    for (int i = 0; i < notifyTipUnits; ++i)
        platform.szTip[i] = static_cast<wchar_t>(data.szTip[i]);
    platform.szTip[notifyTipUnits - 1] = L'\0';
    return ::Shell_NotifyIcon(operation, &platform) != FALSE;
}

std::wstring Win32Ui::AnsiToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                              length);
    }
    return wide;
}

std::string Win32Ui::WideToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL,
                                       0, NULL, NULL);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0],
                              length, NULL, NULL);
    }
    return narrow;
}

}  // namespace lumivo
