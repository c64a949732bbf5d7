#pragma once
// The window tree both POSIX user-interface hosts (the headless one and the
// desktop one) are built on: window records by handle, registered classes,
// dialog items by id, parents, destruction of a whole tree, screen
// rectangles, the notifications controls send to their dialog, and the
// top-level dialogs registered with the POSIX system.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"
#include "platform/ui_port.h"
#include "resources/resource_script.h"

namespace lumivo {

// The class name the hosts give dialogs, as the platform's dialog manager does.
inline constexpr const char* dialogClassName = "#32770";

// A zero-terminated UTF-16 text of at most `count` units as a wide text.
template <class Unit>
std::wstring WideFromUtf16(const Unit* units, std::size_t count) {
    std::wstring out;
    for (std::size_t i = 0; i < count && units[i] != 0; ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

// What every window of a host's tree records; `W` is the host's record,
// which adds its own fields.
template <class W>
struct WindowRecord {
    W* parent = nullptr;
    std::vector<W*> children;
    std::string className;
    int templateId = 0;  // dialogs only
    int id = 0;          // controls only
    std::uint32_t style = 0;
    std::wstring text;
    bool visible = false;
    Rect rect;  // screen pixels for top-level windows, else the parent's client pixels
    WindowProcedure* procedure = nullptr;
};

// The hosts' common base; `W` is the host's window record (a WindowRecord).
template <class W>
class WindowTree : public UiPort {
  public:
    WindowTree(const WindowTree&) = delete;
    WindowTree& operator=(const WindowTree&) = delete;

    bool RegisterClass(const std::wstring& className) override;
    WindowHandle GetDlgItem(WindowHandle dialog, int id) override;
    WindowHandle GetParent(WindowHandle handle) override;
    // A window's rectangle in screen pixels.
    bool GetWindowRect(WindowHandle handle, Rect& rect) override;
    // The dialog made from template `templateId`, or null.
    WindowHandle FindDialog(int templateId) const;
    // False when the built-in resource script could not be read; `ScriptError` says why.
    bool ScriptLoaded() const { return scriptLoaded_; }
    const std::string& ScriptError() const { return scriptError_; }

  protected:
    explicit WindowTree(PosixSystem* system) : system_(system) {
        scriptLoaded_ = ParseResourceScript(EmbeddedResourceScript(), script_, scriptError_,
                                            EmbeddedResourceHeaders());
    }

    // Cuts the ties to the system (its exit hook points at the host).
    void ReleaseSystem() {
        if (system_ == nullptr) return;
        if (exitHooked_) system_->SetTerminationHandler(nullptr);
        for (const auto& window : windows_) {
            if (window.second->parent == nullptr) system_->UnregisterWindow(window.first);
        }
    }

    W* Find(WindowHandle handle) const {
        auto it = windows_.find(handle);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    W* Make(W* parent, const std::string& className, std::uint32_t style) {
        auto window = std::make_unique<W>();
        window->parent = parent;
        window->className = className;
        window->style = style;
        W* raw = window.get();
        windows_[raw] = std::move(window);
        if (parent != nullptr) parent->children.push_back(raw);
        return raw;
    }

    // A window of a registered class (`name` is the class name as the host
    // keeps it); null for an unknown class or parent.
    W* MakePlain(const std::wstring& className, const std::string& name, const std::wstring& title,
                 std::uint32_t style, int x, int y, int width, int height, WindowHandle parent,
                 WindowProcedure& procedure) {
        W* parentWindow = Find(parent);
        if (classes_.count(className) == 0 || (parent != nullptr && parentWindow == nullptr))
            return nullptr;
        W* window = Make(parentWindow, name, style);
        window->text = title;
        window->rect = Rect{x, y, x + width, y + height};
        window->visible = (style & WS_VISIBLE) != 0;
        window->procedure = &procedure;
        return window;
    }

    // A top-level dialog is found by its title from outside; the first one
    // takes the exit command of SIGINT and SIGTERM (the agent's own quit
    // path, without a question).
    void RegisterTopLevel(W* window) {
        if (window->parent != nullptr || system_ == nullptr) return;
        system_->RegisterWindow(
            window, window->text,
            [this, window](unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
                return SendMessage(window, message, wParam, lParam);
            });
        if (exitHooked_) return;
        exitHooked_ = true;
        system_->SetTerminationHandler([this, window] {
            if (Find(window) != nullptr)
                SendMessage(window, WM_COMMAND, MakeWParam(ID_APP_EXIT, 0), 0);
        });
    }

    // Gives a new dialog its procedure and WM_INITDIALOG (after registering
    // a top-level one); false when the dialog destroyed itself meanwhile.
    // `setFocus` says whether the dialog leaves the focus to the host.
    bool Initialise(W* window, WindowProcedure& procedure, bool& setFocus) {
        window->procedure = &procedure;
        RegisterTopLevel(window);
        std::intptr_t answer = 1;
        procedure.HandleMessage(window, WM_INITDIALOG, 0, 0, answer);
        setFocus = answer != 0;
        return Find(window) != nullptr;
    }

    void TitleChanged(W* window, const std::wstring& text) {
        if (window->parent == nullptr && system_ != nullptr && window->className == dialogClassName)
            system_->SetWindowTitle(window, text);
    }

    // Takes `window` out of its parent's children, or out of the system's
    // list of top-level dialogs; the host then destroys the tree.
    void Detach(W* window) {
        if (window->parent != nullptr) {
            auto& siblings = window->parent->children;
            for (auto it = siblings.begin(); it != siblings.end(); ++it) {
                if (*it == window) {
                    siblings.erase(it);
                    break;
                }
            }
        } else if (system_ != nullptr && window->className == dialogClassName) {
            system_->UnregisterWindow(window);
        }
    }

    void Erase(W* window) { windows_.erase(window); }

    static W* Root(W* window) {
        while (window != nullptr && window->parent != nullptr) window = window->parent;
        return window;
    }

    std::vector<W*> TopLevel() const {
        std::vector<W*> tops;
        for (const auto& window : windows_) {
            if (window.second->parent == nullptr) tops.push_back(window.second.get());
        }
        return tops;
    }

    // SetWindowPos on the window's rectangle: moves and sizes it as `flags`
    // allow; null for an unknown window.
    W* Reposition(WindowHandle handle, int x, int y, int width, int height, unsigned flags) {
        W* window = Find(handle);
        if (window == nullptr) return nullptr;
        Rect& r = window->rect;
        if ((flags & SWP_NOSIZE) == 0) {
            r.right = r.left + width;
            r.bottom = r.top + height;
        }
        if ((flags & SWP_NOMOVE) == 0) {
            const int w = r.right - r.left;
            const int h = r.bottom - r.top;
            r = Rect{x, y, x + w, y + h};
        }
        return window;
    }

    // The window's own procedure's answer, 0 when it does not handle `message`.
    std::intptr_t CallProcedure(W* window, unsigned message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
        std::intptr_t result = 0;
        WindowProcedure* procedure = window->procedure;  // the window may go away while it runs
        if (procedure != nullptr &&
            procedure->HandleMessage(window, message, wParam, lParam, result)) {
            return result;
        }
        return 0;
    }

    // What a control tells its dialog: WM_COMMAND with `code`.
    void SendCommand(W* control, unsigned code) {
        if (control->parent == nullptr) return;
        SendMessage(control->parent, WM_COMMAND,
                    MakeWParam(static_cast<unsigned>(control->id), code),
                    reinterpret_cast<std::intptr_t>(static_cast<WindowHandle>(control)));
    }

    // What a tab control tells its dialog when the user picked another tab.
    void SendSelectionChange(W* tab) {
        if (tab->parent == nullptr) return;
        NotifyHeader header;
        header.hwndFrom = tab;
        header.idFrom = static_cast<std::uintptr_t>(tab->id);
        header.code = TCN_SELCHANGE;
        SendMessage(tab->parent, WM_NOTIFY, header.idFrom,
                    reinterpret_cast<std::intptr_t>(&header));
    }

    const std::map<WindowHandle, std::unique_ptr<W>>& Windows() const { return windows_; }

    ResourceScript script_;  // the dialog templates, icons and bitmaps

  private:
    bool scriptLoaded_ = false;
    std::string scriptError_;
    PosixSystem* system_;
    bool exitHooked_ = false;
    std::map<WindowHandle, std::unique_ptr<W>> windows_;
    std::map<std::wstring, bool> classes_;
};

// Defined here, out of the class, so that a host instantiates them once,
// where its window record is complete (see the hosts' `extern template`).
template <class W>
bool WindowTree<W>::RegisterClass(const std::wstring& className) {
    return classes_.emplace(className, true).second;
}

template <class W>
WindowHandle WindowTree<W>::GetDlgItem(WindowHandle dialog, int id) {
    W* window = Find(dialog);
    if (window == nullptr) return nullptr;
    for (W* child : window->children) {
        if (child->id == id && child->className != dialogClassName) return child;
    }
    return nullptr;
}

template <class W>
WindowHandle WindowTree<W>::GetParent(WindowHandle handle) {
    W* window = Find(handle);
    return window == nullptr ? nullptr : window->parent;
}

template <class W>
bool WindowTree<W>::GetWindowRect(WindowHandle handle, Rect& rect) {
    W* window = Find(handle);
    if (window == nullptr) return false;
    rect = window->rect;
    for (const W* parent = window->parent; parent != nullptr; parent = parent->parent) {
        rect.left += parent->rect.left;
        rect.right += parent->rect.left;
        rect.top += parent->rect.top;
        rect.bottom += parent->rect.top;
    }
    return true;
}

template <class W>
WindowHandle WindowTree<W>::FindDialog(int templateId) const {
    for (const auto& window : windows_) {
        if (window.second->className == dialogClassName && window.second->templateId == templateId)
            return window.first;
    }
    return nullptr;
}

}  // namespace lumivo
