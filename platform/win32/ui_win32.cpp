#include "platform/win32/ui_win32.h"

#include <vector>

#include "platform/win32/system_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {

#ifdef _WIN32_WCE
static_assert(sizeof(NOTIFYICONDATAW) == notifyIconDataSize, "NOTIFYICONDATA of Compact 7");
#elif !defined(_WIN64)
// 32-bit desktop Windows: the full record of its headers.
static_assert(sizeof(NOTIFYICONDATAW) == 956, "NOTIFYICONDATAW of 32-bit Windows");
#endif
// Message parameters and handles cross the port as integers and pointers of
// the machine's word size, as on every Windows target.
static_assert(sizeof(WPARAM) == sizeof(std::uintptr_t) && sizeof(LPARAM) == sizeof(std::intptr_t) &&
                  sizeof(LRESULT) == sizeof(std::intptr_t) && sizeof(HWND) == sizeof(WindowHandle),
              "message parameters and window handles are word-sized");

namespace {

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

// The port's records mirror the platform's; lParam values that point to them
// are translated here rather than cast, so either side may change.
bool CallProcedure(Win32Ui::Binding* binding, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam, LRESULT& result) {
    if (binding == nullptr || !binding->procedure) return false;
    std::intptr_t answer = 0;
    bool handled;
    if (message == WM_NOTIFY && lParam != 0) {
        const NMHDR* platform = reinterpret_cast<const NMHDR*>(lParam);
        NotifyHeader header;
        header.hwndFrom = platform->hwndFrom;
        header.idFrom = platform->idFrom;
        header.code = platform->code;
        handled = binding->procedure(window, message, wParam,
                                     reinterpret_cast<std::intptr_t>(&header), answer);
    } else {
        handled = binding->procedure(window, message, wParam, lParam, answer);
    }
    result = answer;
    return handled;
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* binding = reinterpret_cast<Win32Ui::Binding*>(::GetWindowLongPtrW(window, DWLP_USER));
    LRESULT result = 0;
    bool handled = CallProcedure(binding, window, message, wParam, lParam, result);
    if (message == WM_NCDESTROY && binding != nullptr) binding->ui->Forget(window);
    if (!handled) return FALSE;
    // WM_INITDIALOG answers whether the platform sets the focus; every other
    // message answers its sender through the dialog's message result.
    if (message == WM_INITDIALOG) return result != 0 ? TRUE : FALSE;
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

LRESULT CALLBACK PlainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* binding = reinterpret_cast<Win32Ui::Binding*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    bool handled = CallProcedure(binding, window, message, wParam, lParam, result);
    if (message == WM_NCDESTROY && binding != nullptr) binding->ui->Forget(window);
    return handled ? result : ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

Win32Ui::Win32Ui(Win32System* system) : system_(system) {
    // The tab control is a common control: its class is registered here.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_TAB_CLASSES;
    ::InitCommonControlsEx(&controls);
}

Win32Ui::~Win32Ui() {
    // Windows still alive must not reach the procedures any more.
    for (auto& binding : bindings_) binding.second->procedure = nullptr;
}

void Win32Ui::Forget(WindowHandle window) {
    auto found = bindings_.find(window);
    if (found == bindings_.end()) return;
    // The window's last message has been handled; nothing calls this procedure again.
    ::SetWindowLongPtrW(static_cast<HWND>(window), GWLP_USERDATA, 0);
    bindings_.erase(found);
    if (system_ != nullptr) system_->RemoveDialog(window);
}

WindowHandle Win32Ui::CreateDialogParam(int templateId, WindowHandle parent,
                                        WindowProcedure procedure) {
    auto binding = std::make_unique<Binding>();
    binding->ui = this;
    binding->procedure = std::move(procedure);
    HWND window =
        ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(templateId), static_cast<HWND>(parent),
                             DialogProcedure, reinterpret_cast<LPARAM>(binding.get()));
    if (window == nullptr) return nullptr;
    bindings_[window] = std::move(binding);
    if (parent == nullptr) {
        if (system_ != nullptr) system_->AddDialog(window);
    } else {
        // A dialog inside another window (a tab page) is part of the top
        // dialog: Tab walks into it and through its controls, as for a
        // DS_CONTROL template, and the window that holds it must let the walk in.
        for (HWND host : {window, static_cast<HWND>(parent)}) {
            LONG_PTR style = ::GetWindowLongPtrW(host, GWL_EXSTYLE);
            ::SetWindowLongPtrW(host, GWL_EXSTYLE, style | WS_EX_CONTROLPARENT);
        }
    }
    return window;
}

bool Win32Ui::RegisterClass(const std::wstring& className) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainWindowProcedure;
    windowClass.hInstance = Instance();
    windowClass.lpszClassName = className.c_str();
    return ::RegisterClassW(&windowClass) != 0;
}

WindowHandle Win32Ui::CreateWindowEx(std::uint32_t exStyle, const std::wstring& className,
                                     const std::wstring& title, std::uint32_t style, int x, int y,
                                     int width, int height, WindowHandle parent,
                                     WindowProcedure procedure) {
    auto binding = std::make_unique<Binding>();
    binding->ui = this;
    binding->procedure = std::move(procedure);
    HWND window =
        ::CreateWindowExW(exStyle, className.c_str(), title.c_str(), style, x, y, width, height,
                          static_cast<HWND>(parent), nullptr, Instance(), binding.get());
    if (window == nullptr) return nullptr;
    bindings_[window] = std::move(binding);
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
        ::GetWindowTextW(static_cast<HWND>(window), text.data(), static_cast<int>(text.size()));
    return std::wstring(text.data(), copied > 0 ? copied : 0);
}

bool Win32Ui::EnableWindow(WindowHandle window, bool enable) {
    HWND control = static_cast<HWND>(window);
    if (!enable && control != nullptr && ::GetFocus() == control) {
        // A disabled control loses the focus, and the keys would then reach
        // no control at all ("Save" disables itself when clicked): the next
        // tab stop of the dialog takes the focus, or the dialog itself.
        HWND dialog = ::GetAncestor(control, GA_ROOT);
        HWND next = ::GetNextDlgTabItem(dialog, control, FALSE);
        if (next != nullptr && next != control) {
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

std::intptr_t Win32Ui::SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
    HWND target = static_cast<HWND>(window);
    if (message == TCM_INSERTITEMW && lParam != 0) {
        const TabItem* item = reinterpret_cast<const TabItem*>(lParam);
        TCITEMW platform{};
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
        RECT platform{};
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
    RECT platform{};
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
    NOTIFYICONDATAW platform{};
    platform.cbSize = sizeof platform;
    platform.hWnd = static_cast<HWND>(data.hWnd);
    platform.uID = data.uID;
    platform.uFlags = data.uFlags;
    platform.uCallbackMessage = data.uCallbackMessage;
    platform.hIcon = static_cast<HICON>(data.hIcon);
    static_assert(sizeof platform.szTip / sizeof platform.szTip[0] >= notifyTipUnits,
                  "the platform's tooltip holds the board's");
    for (int i = 0; i < notifyTipUnits; ++i)
        platform.szTip[i] = static_cast<wchar_t>(data.szTip[i]);
    platform.szTip[notifyTipUnits - 1] = L'\0';
    return ::Shell_NotifyIconW(operation, &platform) != FALSE;
}

std::wstring Win32Ui::AnsiToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                              length);
    }
    return wide;
}

std::string Win32Ui::WideToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0],
                              length, nullptr, nullptr);
    }
    return narrow;
}

}  // namespace lumivo
