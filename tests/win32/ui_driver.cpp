// A test-only driver of the running agent's user interface, from another
// process, as a user's clicks would reach it. One action per run:
//   ui_driver state            the dialog's look, one "name=value" line each
//   ui_driver show             sends WM_SHOWGUI, as a second copy with -g does
//   ui_driver tab INDEX        selects a tab with the keyboard
//   ui_driver click ID         clicks the button or check box ID of the page shown
//   ui_driver tap|doubletap    a release of the left button (or a double
//                              click) on the tray icon, as the shell reports it
//   ui_driver ok               the caption's OK button (IDOK)
//   ui_driver close            the caption's close box (IDCANCEL)
//   ui_driver answer yes|no    answers the open quit question; prints its text
//   ui_driver exit             the framework's exit command
// Exit status 0 on success, 1 when the window or control is not there, 3
// when the control is disabled.

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

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

HWND TabControl(HWND dialog) { return ::GetDlgItem(dialog, 1023); }

// The page of the tab control that holds control `id` (1018 General, 1006
// Options, 1024 About).
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

void PrintControl(const char* page, HWND pageWindow, int id) {
    HWND control = ::GetDlgItem(pageWindow, id);
    if (control == nullptr) return;
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
    } pages[] = {{"general", 1018, {1003, 1004, 1019, 1018}},
                 {"options", 1006, {1006, 1008, 1022}},
                 {"about", 1024, {1022, 1023, 1024}}};
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
    HWND box = QuestionBox(dialog);
    std::printf("question=%s\n", box ? TextOf(::GetDlgItem(box, 0xFFFF)).c_str() : "");
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
    } else if (action == "exit") {
        result = ::PostMessageW(dialog, WM_COMMAND, appExitCommand, 0) ? 0 : 1;
    }
    std::fflush(stdout);
    return result;
}
