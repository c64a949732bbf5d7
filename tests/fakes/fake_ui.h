#pragma once
// In-memory UiPort for unit tests of the user-interface core. Windows are
// plain records; every call is logged by name, in order, so a test can check
// what the core asked of the platform. Controls come into being on their
// first GetDlgItem. Notification-icon calls are recorded and can be refused.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui_port.h"

namespace lumivo {

class FakeUi : public UiPort {
  public:
    struct Window {
        WindowHandle parent = nullptr;
        int templateId = 0;
        int id = 0;
        std::wstring text;
        bool enabled = true;
        bool visible = false;
        Rect rect;
        std::uintptr_t check = BST_UNCHECKED;
        std::vector<std::wstring> tabs;
        int selectedTab = -1;
        WindowProcedure* procedure = nullptr;
    };
    struct ShellCall {
        unsigned operation = 0;
        NotifyIconData data;
    };

    // Switches.
    bool failDialogs = false;        // CreateDialogParam gives null
    bool failWindows = false;        // CreateWindowEx gives null
    std::vector<bool> shellAnswers;  // answers of the next shell calls, then true

    // Records.
    std::vector<std::string> calls;  // "SetWindowPos", "ShowWindow", ... in order
    std::vector<ShellCall> shellCalls;
    std::map<WindowHandle, std::unique_ptr<Window>> windows;

    Window* Get(WindowHandle handle) {
        auto it = windows.find(handle);
        return it == windows.end() ? nullptr : it->second.get();
    }
    static IconHandle Icon(int resourceId) {
        return reinterpret_cast<IconHandle>(static_cast<std::uintptr_t>(0x10000 + resourceId));
    }
    // Sends a message to a window's procedure; 0 when it did not handle it.
    std::intptr_t Deliver(WindowHandle handle, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam, bool* handled = nullptr) {
        Window* window = Get(handle);
        std::intptr_t result = 0;
        bool done = window != nullptr && window->procedure != nullptr &&
                    window->procedure->HandleMessage(handle, message, wParam, lParam, result);
        if (handled != nullptr) *handled = done;
        return done ? result : 0;
    }

    WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                   WindowProcedure& procedure) override {
        calls.push_back("CreateDialogParam");
        if (failDialogs) return nullptr;
        WindowHandle handle = Make(parent);
        Get(handle)->templateId = templateId;
        Get(handle)->procedure = &procedure;
        Deliver(handle, WM_INITDIALOG, 0, 0);
        return handle;
    }
    bool RegisterClass(const std::wstring&) override {
        calls.push_back("RegisterClass");
        return true;
    }
    WindowHandle CreateWindowEx(std::uint32_t, const std::wstring&, const std::wstring& title,
                                std::uint32_t, int, int, int, int, WindowHandle parent,
                                WindowProcedure& procedure) override {
        calls.push_back("CreateWindowEx");
        if (failWindows) return nullptr;
        WindowHandle handle = Make(parent);
        Get(handle)->text = title;
        Get(handle)->procedure = &procedure;
        return handle;
    }
    bool DestroyWindow(WindowHandle handle) override {
        calls.push_back("DestroyWindow");
        return windows.erase(handle) > 0;
    }
    WindowHandle GetDlgItem(WindowHandle dialog, int id) override {
        if (Get(dialog) == nullptr) return nullptr;
        for (auto& window : windows) {
            if (window.second->parent == dialog && window.second->id == id &&
                window.second->templateId == 0) {
                return window.first;
            }
        }
        WindowHandle handle = Make(dialog);
        Get(handle)->id = id;
        Get(handle)->visible = true;
        return handle;
    }
    WindowHandle GetParent(WindowHandle handle) override {
        Window* window = Get(handle);
        return window == nullptr ? nullptr : window->parent;
    }
    bool SetWindowText(WindowHandle handle, const std::wstring& text) override {
        calls.push_back("SetWindowText");
        Window* window = Get(handle);
        if (window == nullptr) return false;
        window->text = text;
        return true;
    }
    std::wstring GetWindowText(WindowHandle handle) override {
        Window* window = Get(handle);
        return window == nullptr ? std::wstring() : window->text;
    }
    bool EnableWindow(WindowHandle handle, bool enable) override {
        calls.push_back("EnableWindow");
        Window* window = Get(handle);
        if (window == nullptr) return false;
        const bool wasDisabled = !window->enabled;
        window->enabled = enable;
        return wasDisabled;
    }
    bool IsWindowEnabled(WindowHandle handle) override {
        Window* window = Get(handle);
        return window != nullptr && window->enabled;
    }
    bool ShowWindow(WindowHandle handle, int command) override {
        calls.push_back(command == SW_HIDE ? "ShowWindow(hide)" : "ShowWindow(show)");
        Window* window = Get(handle);
        if (window == nullptr) return false;
        const bool wasVisible = window->visible;
        window->visible = command != SW_HIDE;
        return wasVisible;
    }
    bool IsWindowVisible(WindowHandle handle) override {
        Window* window = Get(handle);
        return window != nullptr && window->visible;
    }
    std::intptr_t SendMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        Window* window = Get(handle);
        if (window == nullptr) return 0;
        switch (message) {
            case BM_GETCHECK:
                return static_cast<std::intptr_t>(window->check);
            case BM_SETCHECK:
                window->check = wParam;
                return 0;
            case TCM_INSERTITEMW:
                calls.push_back("TCM_INSERTITEMW");
                window->tabs.push_back(reinterpret_cast<const TabItem*>(lParam)->pszText);
                return static_cast<std::intptr_t>(window->tabs.size() - 1);
            case TCM_GETITEMRECT:
                *reinterpret_cast<Rect*>(lParam) = Rect{2, 2, 60, 22};
                return 1;
            case TCM_GETCURSEL:
                return window->selectedTab;
            case TCM_SETCURSEL:
                calls.push_back("TCM_SETCURSEL");
                window->selectedTab = static_cast<int>(wParam);
                return 0;
            default:
                return Deliver(handle, message, wParam, lParam);
        }
    }
    bool SetWindowPos(WindowHandle handle, WindowHandle insertAfter, int x, int y, int width,
                      int height, unsigned flags) override {
        calls.push_back(insertAfter == HWND_TOPMOST ? "SetWindowPos(topmost)" : "SetWindowPos");
        Window* window = Get(handle);
        if (window == nullptr) return false;
        Rect& r = window->rect;
        if ((flags & SWP_NOSIZE) == 0) r = Rect{r.left, r.top, r.left + width, r.top + height};
        if ((flags & SWP_NOMOVE) == 0) r = Rect{x, y, x + r.right - r.left, y + r.bottom - r.top};
        return true;
    }
    bool GetWindowRect(WindowHandle handle, Rect& rect) override {
        Window* window = Get(handle);
        if (window == nullptr) return false;
        rect = window->rect;
        return true;
    }
    int GetSystemMetrics(int index) override { return index == SM_CXSCREEN ? 800 : 480; }
    bool SetForegroundWindow(WindowHandle) override {
        calls.push_back("SetForegroundWindow");
        return true;
    }
    IconHandle LoadIcon(int resourceId) override {
        calls.push_back("LoadIcon(" + std::to_string(resourceId) + ")");
        return Icon(resourceId);
    }
    bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data) override {
        shellCalls.push_back(ShellCall{operation, data});
        if (shellAnswers.empty()) return true;
        const bool answer = shellAnswers.front();
        shellAnswers.erase(shellAnswers.begin());
        return answer;
    }
    std::wstring AnsiToWide(const std::string& text) override {
        return std::wstring(text.begin(), text.end());
    }
    std::string WideToAnsi(const std::wstring& text) override {
        std::string out;
        for (wchar_t c : text) out += static_cast<char>(c);
        return out;
    }

  private:
    WindowHandle Make(WindowHandle parent) {
        auto window = std::make_unique<Window>();
        window->parent = parent;
        WindowHandle handle = window.get();
        windows[handle] = std::move(window);
        return handle;
    }
};

}  // namespace lumivo
