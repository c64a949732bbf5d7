// A test-only driver of the running agent's user interface, from another
// process, as a user's clicks would reach it. One action per run:
//   ui_driver state            the dialog's look, one "name=value" line each,
//                              with the focus and where on the screen the
//                              tabs and controls are (for real clicks)
//   ui_driver layout           the dialog font's measures and every control,
//                              page or text that does not fit ("fault=" lines)
//   ui_driver show             sends WM_SHOWGUI, as a second copy with -g does
//   ui_driver tab INDEX        selects a tab with the keyboard
//   ui_driver click ID         clicks the button or check box ID of the page shown
//   ui_driver tap|doubletap    a release of the left button (or a double
//                              click) on the tray icon, as the shell reports it
//   ui_driver ok               the caption's OK button (IDOK)
//   ui_driver close            the caption's close box (IDCANCEL)
//   ui_driver answer yes|no    answers the open quit question; prints its text
//   ui_driver exit             the framework's exit command
//   ui_driver shell-restart    the shell loses the tray icon and comes back:
//                              the icon is deleted from outside, then
//                              "TaskbarCreated" is broadcast; prints whether
//                              the icon was gone before and is there after
// Exit status 0 on success, 1 when the window or control is not there, 3
// when the control is disabled.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr UINT trayNotifyMessage = 32778;  // WM_APP + 10
constexpr UINT showGuiMessage = 32779;     // WM_APP + 11
constexpr WPARAM appExitCommand = 57665;
const wchar_t* const title = L"Lumivo Runtime";

std::string Narrow(const std::wstring& text) {
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length - 1 : 0, '\0');
    if (length > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    }
    return out;
}

// WM_GETTEXT is carried across processes, unlike pointers in most messages.
std::string TextOf(HWND window) {
    wchar_t text[512] = {};
    ::SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return Narrow(text);
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return Narrow(name);
}

BOOL CALLBACK FindMainDialog(HWND window, LPARAM context) {
    // The quit question has the same class and title, but an owner.
    wchar_t text[64] = {};
    ::GetWindowTextW(window, text, 64);
    if (std::wcscmp(text, title) == 0 && ::GetWindow(window, GW_OWNER) == nullptr) {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (std::wcscmp(name, L"#32770") == 0) {
            *reinterpret_cast<HWND*>(context) = window;
            return FALSE;
        }
    }
    return TRUE;
}

HWND MainDialog() {
    HWND found = nullptr;
    ::EnumWindows(FindMainDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND TabControl(HWND dialog) { return ::GetDlgItem(dialog, IDC_TABS); }

// The page of the tab control that holds control `id` (IDC_DISCONNECT_ALL
// General, IDC_CONNECTIONS_ENABLED Options, IDC_COPYRIGHT About).
HWND PageWith(HWND dialog, int id) {
    for (HWND page = ::FindWindowExW(TabControl(dialog), nullptr, L"#32770", nullptr);
         page != nullptr; page = ::FindWindowExW(TabControl(dialog), page, L"#32770", nullptr)) {
        if (::GetDlgItem(page, id) != nullptr) return page;
    }
    return nullptr;
}

struct BoxSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    if (window != search->owner && ::GetWindow(window, GW_OWNER) == search->owner &&
        ClassOf(window) == "#32770" && ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The message box that the dialog owns, when one is open.
HWND QuestionBox(HWND dialog) {
    BoxSearch search{dialog, nullptr};
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A rectangle message (TCM_GETITEMRECT, TCM_ADJUSTRECT) to a window of the
// agent: its RECT must live in the agent's memory.
bool RemoteRect(HWND window, UINT message, WPARAM wParam, RECT& rect) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                   FALSE, processId);
    if (process == nullptr) return false;
    bool ok = false;
    void* remote = ::VirtualAllocEx(process, nullptr, sizeof rect, MEM_COMMIT, PAGE_READWRITE);
    if (remote != nullptr && ::WriteProcessMemory(process, remote, &rect, sizeof rect, nullptr)) {
        ::SendMessageW(window, message, wParam, reinterpret_cast<LPARAM>(remote));
        ok = ::ReadProcessMemory(process, remote, &rect, sizeof rect, nullptr) != FALSE;
    }
    if (remote != nullptr) ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return ok;
}

void PrintCentre(const char* name, HWND window, RECT rect) {
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    std::printf("%s.centre=%ld %ld\n", name, (rect.left + rect.right) / 2,
                (rect.top + rect.bottom) / 2);
}

void PrintControl(const char* page, HWND pageWindow, int id) {
    HWND control = ::GetDlgItem(pageWindow, id);
    if (control == nullptr) return;
    RECT client{};
    ::GetClientRect(control, &client);
    PrintCentre((std::string(page) + "." + std::to_string(id)).c_str(), control, client);
    std::printf("%s.%d.text=%s\n", page, id, TextOf(control).c_str());
    std::printf("%s.%d.enabled=%d\n", page, id, ::IsWindowEnabled(control) ? 1 : 0);
    if (ClassOf(control) == "Button") {
        LRESULT check = ::SendMessageW(control, BM_GETCHECK, 0, 0);
        std::printf("%s.%d.checked=%d\n", page, id, check == BST_CHECKED ? 1 : 0);
    }
}

int State(HWND dialog) {
    RECT rect{};
    ::GetWindowRect(dialog, &rect);
    std::printf("title=%s\n", TextOf(dialog).c_str());
    std::printf("visible=%d\n", ::IsWindowVisible(dialog) ? 1 : 0);
    std::printf("rect=%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    std::printf("topmost=%d\n", (::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
    HWND tabs = TabControl(dialog);
    std::printf("tabs.count=%d\n", static_cast<int>(::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0)));
    std::printf("tabs.selected=%d\n", static_cast<int>(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0)));
    const struct {
        const char* name;
        int key;
        std::vector<int> controls;
    } pages[] = {
        {"general", IDC_DISCONNECT_ALL, {IDC_ID, IDC_PASSWORD, IDC_VPN_ADDRESS, IDC_DISCONNECT_ALL}},
        {"options", IDC_CONNECTIONS_ENABLED, {IDC_CONNECTIONS_ENABLED, IDC_VPN_ENABLED, IDC_SAVE}},
        {"about", IDC_COPYRIGHT, {IDC_PRODUCT_NAME, IDC_VERSION, IDC_COPYRIGHT}}};
    for (const auto& page : pages) {
        HWND window = PageWith(dialog, page.key);
        if (window == nullptr) continue;
        RECT pageRect{};
        ::GetWindowRect(window, &pageRect);
        RECT tabRect{};
        ::GetWindowRect(tabs, &tabRect);
        std::printf("%s.visible=%d\n", page.name, ::IsWindowVisible(window) ? 1 : 0);
        std::printf("%s.origin=%ld %ld\n", page.name, pageRect.left - tabRect.left,
                    pageRect.top - tabRect.top);
        for (int id : page.controls) PrintControl(page.name, window, id);
    }
    for (int i = 0; i < static_cast<int>(::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0)); ++i) {
        RECT item{};
        if (RemoteRect(tabs, TCM_GETITEMRECT, i, item))
            PrintCentre(("tab." + std::to_string(i)).c_str(), tabs, item);
    }
    HWND box = QuestionBox(dialog);
    std::printf("question=%s\n", box ? TextOf(::GetDlgItem(box, 0xFFFF)).c_str() : "");
    // The focus belongs to the agent's thread: its input state says where.
    GUITHREADINFO input{};
    input.cbSize = sizeof input;
    std::string focus;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &input) &&
        input.hwndFocus != nullptr) {
        HWND parent = ::GetParent(input.hwndFocus);
        if (input.hwndFocus == tabs) {
            focus = "tabs";
        } else if (input.hwndFocus == dialog) {
            focus = "dialog";
        } else {
            for (const auto& page : pages) {
                if (parent != nullptr && parent == PageWith(dialog, page.key))
                    focus = std::string(page.name) + "." +
                            std::to_string(::GetDlgCtrlID(input.hwndFocus));
            }
        }
        if (focus.empty()) focus = ClassOf(input.hwndFocus);
    }
    std::printf("focus=%s\n", focus.c_str());
    return 0;
}

// --- The layout check ---

struct Layout {
    HDC dc;
    int faults = 0;

    void Fault(const std::string& what, const RECT& inner, const RECT& outer) {
        ++faults;
        std::printf("fault=%s: %ld,%ld-%ld,%ld outside %ld,%ld-%ld,%ld\n", what.c_str(),
                    inner.left, inner.top, inner.right, inner.bottom, outer.left, outer.top,
                    outer.right, outer.bottom);
    }
    void Inside(const std::string& what, const RECT& inner, const RECT& outer) {
        if (inner.left < outer.left || inner.top < outer.top || inner.right > outer.right ||
            inner.bottom > outer.bottom) {
            Fault(what, inner, outer);
        }
    }
    // The room a control's text needs, drawn as the control draws it.
    void Text(const std::string& what, HWND control) {
        wchar_t text[512] = {};
        ::SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
        if (text[0] == L'\0') return;
        RECT client{};
        ::GetClientRect(control, &client);
        const LONG style = ::GetWindowLongW(control, GWL_STYLE);
        const std::string kind = ClassOf(control);
        RECT need{0, 0, client.right, 0};
        if (kind == "Static") {
            if ((style & SS_TYPEMASK) > SS_RIGHT) return;  // a picture
            // SS_LEFT breaks lines between words.
            ::DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        } else if (kind == "Button") {
            SIZE extent{};
            ::GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &extent);
            const LONG type = style & BS_TYPEMASK;
            // Room taken by the frame: the check mark and its gap, a push
            // button's edges, a group box's line on both sides.
            const LONG frame = type == BS_AUTOCHECKBOX ? ::GetSystemMetrics(SM_CXMENUCHECK) + 4
                               : type == BS_GROUPBOX   ? 16
                                                       : 6;
            need.right = extent.cx + frame;
            need.bottom = type == BS_GROUPBOX ? 0 : extent.cy;
        } else {
            return;
        }
        std::printf("text.%s=%ld %ld in %ld %ld\n", what.c_str(), need.right, need.bottom,
                    client.right, client.bottom);
        Inside(what + " text", need, client);
    }
};

// Where `window` lies in the client area of `parent`.
RECT RectIn(HWND window, HWND parent) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int CheckLayout(HWND dialog) {
    HWND tabs = TabControl(dialog);
    HDC dc = ::GetDC(nullptr);
    // The dialogs' own font: "Segoe UI", 12 points, or what stands in for it.
    HFONT font = ::CreateFontW(-::MulDiv(12, ::GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                               FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                               L"Segoe UI");
    HGDIOBJ before = ::SelectObject(dc, font);
    Layout layout{dc};

    // Dialog base units as the dialog manager takes them from its font.
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const wchar_t* letters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, letters, 52, &extent);
    const long baseX = (extent.cx / 26 + 1) / 2;
    char family[128] = {};
    if (UINT size = ::GetOutlineTextMetricsA(dc, 0, nullptr)) {
        std::vector<char> buffer(size);
        auto* outline = reinterpret_cast<OUTLINETEXTMETRICA*>(buffer.data());
        if (::GetOutlineTextMetricsA(dc, size, outline))
            std::snprintf(family, sizeof family, "%s",
                          buffer.data() + reinterpret_cast<std::uintptr_t>(outline->otmpFamilyName));
    }
    std::printf("font.family=%s\n", family);
    std::printf("font.height=%ld\n", metrics.tmHeight);
    std::printf("font.base=%ld %ld\n", baseX, metrics.tmHeight);
    std::printf("font.pixels-per-unit=%.3f %.3f\n", baseX / 4.0, metrics.tmHeight / 8.0);
    RECT tabRect{};
    ::GetWindowRect(tabs, &tabRect);
    std::printf("tabs.size=%ld %ld\n", tabRect.right - tabRect.left, tabRect.bottom - tabRect.top);

    RECT client{};
    ::GetClientRect(dialog, &client);
    std::printf("dialog.client=%ld %ld\n", client.right, client.bottom);
    layout.Inside("tab control", RectIn(tabs, dialog), client);

    RECT display{};
    ::GetClientRect(tabs, &display);
    RemoteRect(tabs, TCM_ADJUSTRECT, FALSE, display);
    for (HWND page = ::FindWindowExW(tabs, nullptr, L"#32770", nullptr); page != nullptr;
         page = ::FindWindowExW(tabs, page, L"#32770", nullptr)) {
        const std::string name = ::GetDlgItem(page, IDC_DISCONNECT_ALL)        ? "general"
                                 : ::GetDlgItem(page, IDC_CONNECTIONS_ENABLED) ? "options"
                                                            : "about";
        layout.Inside(name + " page", RectIn(page, tabs), display);
        RECT pageClient{};
        ::GetClientRect(page, &pageClient);
        for (HWND control = ::GetWindow(page, GW_CHILD); control != nullptr;
             control = ::GetWindow(control, GW_HWNDNEXT)) {
            const std::string what = name + "." + std::to_string(::GetDlgCtrlID(control));
            layout.Inside(what, RectIn(control, page), pageClient);
            layout.Text(what, control);
        }
    }
    ::SelectObject(dc, before);
    ::DeleteObject(font);
    ::ReleaseDC(nullptr, dc);
    std::printf("faults=%d\n", layout.faults);
    return 0;
}

// Arrow keys move the tab control's selection, which it announces to the
// dialog with TCN_SELCHANGE, as a user's choice would.
int SelectTab(HWND dialog, int index) {
    HWND tabs = TabControl(dialog);
    for (int tries = 0; tries < 10; ++tries) {
        int current = static_cast<int>(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
        if (current == index) return 0;
        WPARAM key = current < index ? VK_RIGHT : VK_LEFT;
        ::PostMessageW(tabs, WM_KEYDOWN, key, 0);
        ::PostMessageW(tabs, WM_KEYUP, key, 0xC0000001);
        ::Sleep(200);
    }
    return 1;
}

int Click(HWND dialog, int id) {
    HWND tabs = TabControl(dialog);
    for (HWND page = ::FindWindowExW(tabs, nullptr, L"#32770", nullptr); page != nullptr;
         page = ::FindWindowExW(tabs, page, L"#32770", nullptr)) {
        HWND control = ::GetDlgItem(page, id);
        if (control != nullptr && ::IsWindowVisible(page)) {
            // A user cannot click a disabled control (BM_CLICK would still
            // notify the page).
            if (!::IsWindowEnabled(control)) {
                std::printf("disabled\n");
                return 3;
            }
            // Posted: the click's handler may open a modal box of its own.
            ::PostMessageW(control, BM_CLICK, 0, 0);
            return 0;
        }
    }
    return 1;
}

int Answer(HWND dialog, bool yes) {
    HWND box = nullptr;
    for (int tries = 0; tries < 50 && box == nullptr; ++tries) {
        box = QuestionBox(dialog);
        if (box == nullptr) ::Sleep(100);
    }
    if (box == nullptr) return 1;
    std::printf("question=%s\n", TextOf(::GetDlgItem(box, 0xFFFF)).c_str());
    std::printf("caption=%s\n", TextOf(box).c_str());
    std::fflush(stdout);
    ::PostMessageW(box, WM_COMMAND, yes ? IDYES : IDNO, 0);
    return 0;
}

// The agent's tray icon: the main dialog's, id 0.
NOTIFYICONDATAW TrayIcon(HWND dialog) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = dialog;
    data.uID = 0;
    return data;
}

// Whether the shell holds the agent's icon: it refuses to modify an icon it
// does not know.
bool TrayIconThere(HWND dialog) {
    NOTIFYICONDATAW data = TrayIcon(dialog);
    return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

int ShellRestart(HWND dialog) {
    NOTIFYICONDATAW data = TrayIcon(dialog);
    ::Shell_NotifyIconW(NIM_DELETE, &data);
    std::printf("gone=%d\n", TrayIconThere(dialog) ? 0 : 1);
    // The shell's own broadcast, to every top-level window.
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(HWND_BROADCAST, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                          SMTO_ABORTIFHUNG, 5000, &answer);
    std::printf("back=%d\n", TrayIconThere(dialog) ? 1 : 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string action = argv[1];
    HWND dialog = MainDialog();
    if (dialog == nullptr) {
        std::printf("no window titled Lumivo Runtime\n");
        return 1;
    }
    int result = 2;
    if (action == "state") {
        result = State(dialog);
    } else if (action == "layout") {
        result = CheckLayout(dialog);
    } else if (action == "show") {
        ::SendMessageW(dialog, showGuiMessage, 0, 0);
        result = 0;
    } else if (action == "tab" && argc > 2) {
        result = SelectTab(dialog, std::atoi(argv[2]));
    } else if (action == "click" && argc > 2) {
        result = Click(dialog, std::atoi(argv[2]));
    } else if (action == "tap" || action == "doubletap") {
        LPARAM mouse = action == "tap" ? WM_LBUTTONUP : WM_LBUTTONDBLCLK;
        std::printf("result=%d\n",
                    static_cast<int>(::SendMessageW(dialog, trayNotifyMessage, 0, mouse)));
        result = 0;
    } else if (action == "ok") {
        result = ::PostMessageW(dialog, WM_COMMAND, IDOK, 0) ? 0 : 1;
    } else if (action == "close") {
        result = ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0) ? 0 : 1;
    } else if (action == "answer" && argc > 2) {
        result = Answer(dialog, std::strcmp(argv[2], "yes") == 0);
    } else if (action == "shell-restart") {
        result = ShellRestart(dialog);
    } else if (action == "exit") {
        result = ::PostMessageW(dialog, WM_COMMAND, appExitCommand, 0) ? 0 : 1;
    }
    std::fflush(stdout);
    return result;
}
