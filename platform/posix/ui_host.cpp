#include "platform/posix/ui_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/system_posix.h"

namespace lumivo {

namespace {

constexpr int pixelsPerUnit = 2;
constexpr int tabItemHeight = 20;
constexpr int tabItemInset = 2;
constexpr const char* dialogClass = dialogClassName;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<std::uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

struct PosixUiWindow : WindowRecord<PosixUiWindow> {
    int imageResource = 0;
    bool enabled = true;
    bool topmost = false;
    std::uintptr_t check = BST_UNCHECKED;
    std::vector<PosixUi::TabEntry> tabs;
    int selectedTab = -1;
    IconHandle bigIcon = nullptr;
    IconHandle smallIcon = nullptr;
};

template class WindowTree<PosixUiWindow>;

PosixUi::PosixUi(PosixSystem* system) : WindowTree(system) {
    if (const char* trace = std::getenv("LUMIVO_UI_TRACE")) tracePath_ = trace;
}

PosixUi::~PosixUi() { ReleaseSystem(); }

PosixUi::Window* PosixUi::MakeWindow(Window* parent, const std::string& className,
                                     std::uint32_t style) {
    Window* window = Make(parent, className, style);
    window->enabled = (style & WS_DISABLED) == 0;
    return window;
}

WindowHandle PosixUi::CreateDialogParam(int templateId, WindowHandle parent,
                                        WindowProcedure& procedure) {
    const DialogTemplate* dialog = script_.FindDialog(templateId);
    Window* parentWindow = Find(parent);
    if (dialog == nullptr || (parent != nullptr && parentWindow == nullptr)) return nullptr;

    Window* window = MakeWindow(parentWindow, dialogClass, dialog->style);
    window->templateId = templateId;
    window->text = AnsiToWide(dialog->caption);
    window->rect = Rect{dialog->x * pixelsPerUnit, dialog->y * pixelsPerUnit,
                        (dialog->x + dialog->width) * pixelsPerUnit,
                        (dialog->y + dialog->height) * pixelsPerUnit};
    if (parentWindow == nullptr) {  // DS_CENTER
        const int width = window->rect.right - window->rect.left;
        const int height = window->rect.bottom - window->rect.top;
        window->rect = Rect{(screenWidth - width) / 2, (screenHeight - height) / 2,
                            (screenWidth + width) / 2, (screenHeight + height) / 2};
    }
    for (const ControlTemplate& item : dialog->controls) {
        Window* control = MakeWindow(window, item.className, item.style);
        control->id = item.id;
        control->text = AnsiToWide(item.text);
        control->imageResource = item.imageResource;
        control->visible = (item.style & WS_VISIBLE) != 0;
        control->rect =
            Rect{item.x * pixelsPerUnit, item.y * pixelsPerUnit,
                 (item.x + item.width) * pixelsPerUnit, (item.y + item.height) * pixelsPerUnit};
    }
    bool setFocus = true;
    if (!Initialise(window, procedure, setFocus)) return nullptr;
    if (parentWindow == nullptr && setFocus) {
        std::vector<Window*> stops = TabStops(window);
        if (!stops.empty()) focus_ = stops.front();
    }
    if ((dialog->style & WS_VISIBLE) != 0) ShowWindow(window, SW_SHOW);
    return window;
}

WindowHandle PosixUi::CreateWindowEx(std::uint32_t, const std::wstring& className,
                                     const std::wstring& title, std::uint32_t style, int x, int y,
                                     int width, int height, WindowHandle parent,
                                     WindowProcedure& procedure) {
    Window* window = MakePlain(className, Narrow(className), title, style, x, y, width, height,
                               parent, procedure);
    if (window != nullptr) window->enabled = (style & WS_DISABLED) == 0;
    return window;
}

bool PosixUi::DestroyWindow(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    Detach(window);
    DestroyTree(window);
    return true;
}

void PosixUi::DestroyTree(Window* window) {
    for (Window* child : window->children) DestroyTree(child);
    if (foreground_ == window) foreground_ = nullptr;
    if (focus_ == window) focus_ = nullptr;
    Erase(window);
}

bool PosixUi::SetWindowText(WindowHandle handle, const std::wstring& text) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    window->text = text;
    TitleChanged(window, text);
    if (window->className == "Edit") SendCommand(window, EN_CHANGE);
    // Edit controls may hold passwords: only static texts go to the trace.
    if (window->className == "Static" && window->parent != nullptr) {
        Trace("text " + ItemName(window) + " \"" + Narrow(text) + "\"");
    }
    return true;
}

std::wstring PosixUi::GetWindowText(WindowHandle handle) {
    Window* window = Find(handle);
    return window == nullptr ? std::wstring() : window->text;
}

bool PosixUi::EnableWindow(WindowHandle handle, bool enable) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    const bool wasDisabled = !window->enabled;
    if (!enable && focus_ == window) {
        // As the Windows adapter does: the focus goes on to the next tab
        // stop, or to the dialog, rather than to nothing.
        Window* dialog = Root(window);
        std::vector<Window*> stops = TabStops(dialog);
        Window* next = stops.empty() ? window : Next(stops, window, false);
        focus_ = next == window ? dialog : next;
    }
    window->enabled = enable;
    if (wasDisabled == enable && window->className == "Button" && window->parent != nullptr) {
        Trace("button " + ItemName(window) + (enable ? " enabled" : " disabled"));
    }
    return wasDisabled;
}

bool PosixUi::IsWindowEnabled(WindowHandle handle) {
    Window* window = Find(handle);
    return window != nullptr && window->enabled;
}

bool PosixUi::ShowWindow(WindowHandle handle, int command) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    const bool wasVisible = window->visible;
    window->visible = command != SW_HIDE;
    // A child hidden with the focus in it hands the focus to its parent; a
    // dialog keeps it for when it is shown again.
    if (!window->visible && window->parent != nullptr && Contains(window, Find(focus_)))
        focus_ = window->parent;
    if (wasVisible != window->visible && window->className == dialogClass) {
        const Rect& r = window->rect;
        Trace(Describe(window) + (window->visible ? " shown " : " hidden ") +
              std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    }
    return wasVisible;
}

bool PosixUi::IsVisible(const Window* window) const {
    for (; window != nullptr; window = window->parent) {
        if (!window->visible) return false;
    }
    return true;
}

bool PosixUi::IsWindowVisible(WindowHandle handle) {
    Window* window = Find(handle);
    return window != nullptr && IsVisible(window);
}

Rect PosixUi::TabItemRect(const Window* tab, int index) const {
    Rect rect{tabItemInset, tabItemInset, tabItemInset, tabItemInset + tabItemHeight};
    for (int i = 0; i <= index && i < static_cast<int>(tab->tabs.size()); ++i) {
        rect.left = rect.right;
        rect.right = rect.left + 12 + 7 * static_cast<int>(tab->tabs[i].text.size());
    }
    return rect;
}

std::intptr_t PosixUi::SendMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
    Window* window = Find(handle);
    if (window == nullptr) return 0;

    // What the platform's own controls answer.
    if (window->className == "Button" && message == BM_GETCHECK) {
        return static_cast<std::intptr_t>(window->check);
    }
    if (window->className == "Button" && message == BM_SETCHECK) {
        window->check = wParam;
        return 0;
    }
    if (window->className == "SysTabControl32") {
        const int count = static_cast<int>(window->tabs.size());
        const int index = static_cast<int>(wParam);
        switch (message) {
            case TCM_INSERTITEMW: {
                const auto* item = reinterpret_cast<const TabItem*>(lParam);
                if (item == nullptr || index < 0) return -1;
                TabEntry entry;
                if ((item->mask & TCIF_TEXT) != 0 && item->pszText != nullptr) {
                    entry.text = item->pszText;
                }
                if ((item->mask & TCIF_PARAM) != 0) entry.parameter = item->lParam;
                const int at = index < count ? index : count;
                window->tabs.insert(window->tabs.begin() + at, entry);
                if (window->selectedTab < 0) window->selectedTab = 0;
                return at;
            }
            case TCM_GETITEMRECT: {
                auto* rect = reinterpret_cast<Rect*>(lParam);
                if (rect == nullptr || index < 0 || index >= count) return 0;
                *rect = TabItemRect(window, index);
                return 1;
            }
            case TCM_GETCURSEL:
                return window->selectedTab;
            case TCM_SETCURSEL: {
                if (index < 0 || index >= count) return -1;
                const int previous = window->selectedTab;
                window->selectedTab = index;
                if (previous != index) Trace("tab " + std::to_string(index) + " selected");
                return previous;
            }
            default:
                break;
        }
    }
    if (message == WM_SETICON) {
        IconHandle& slot = wParam == ICON_BIG ? window->bigIcon : window->smallIcon;
        IconHandle previous = slot;
        slot = reinterpret_cast<IconHandle>(lParam);
        return reinterpret_cast<std::intptr_t>(previous);
    }

    return CallProcedure(window, message, wParam, lParam);
}

bool PosixUi::SetWindowPos(WindowHandle handle, WindowHandle insertAfter, int x, int y, int width,
                           int height, unsigned flags) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    const Rect before = window->rect;
    Reposition(handle, x, y, width, height, flags);
    const Rect& r = window->rect;
    if ((flags & SWP_NOZORDER) == 0) window->topmost = insertAfter == HWND_TOPMOST;
    const bool changed = before.left != r.left || before.top != r.top || before.right != r.right ||
                         before.bottom != r.bottom;
    if (changed && window->parent == nullptr && IsVisible(window)) {
        Trace(Describe(window) + " placed " + std::to_string(r.left) + "," + std::to_string(r.top) +
              " " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
    }
    return true;
}

int PosixUi::GetSystemMetrics(int index) {
    return index == SM_CXSCREEN ? screenWidth : index == SM_CYSCREEN ? screenHeight : 0;
}

bool PosixUi::SetForegroundWindow(WindowHandle handle) {
    if (Find(handle) == nullptr) return false;
    foreground_ = handle;
    return true;
}

IconHandle PosixUi::LoadIcon(int resourceId) {
    if (script_.icons.count(resourceId) == 0) return nullptr;
    auto& icon = icons_[resourceId];
    if (!icon) icon = std::make_unique<int>(resourceId);
    return icon.get();
}

int PosixUi::IconResourceOf(IconHandle icon) const {
    for (const auto& entry : icons_) {
        if (entry.second.get() == icon) return entry.first;
    }
    return 0;
}

bool PosixUi::ShellNotifyIcon(unsigned operation, const NotifyIconData& data) {
    if (shellRefuses_ || data.cbSize != notifyIconDataSize) return false;
    auto it = tray_.begin();
    while (it != tray_.end() && !(it->window == data.hWnd && it->id == data.uID)) ++it;
    const std::wstring tip = WideFromUtf16(data.szTip, notifyTipUnits);

    if (operation == NIM_DELETE) {
        if (it == tray_.end()) return false;
        tray_.erase(it);
        Trace("tray delete");
        return true;
    }
    if (operation == NIM_ADD && it != tray_.end()) return false;
    if (operation == NIM_MODIFY && it == tray_.end()) return false;
    if (operation != NIM_ADD && operation != NIM_MODIFY) return false;
    if (operation == NIM_ADD) {
        tray_.push_back(TrayIcon{data.hWnd, data.uID, 0, 0, L""});
        it = tray_.end() - 1;
    }
    if ((data.uFlags & NIF_MESSAGE) != 0) it->callbackMessage = data.uCallbackMessage;
    if ((data.uFlags & NIF_ICON) != 0) it->iconResource = IconResourceOf(data.hIcon);
    if ((data.uFlags & NIF_TIP) != 0) it->tip = tip;
    Trace(std::string(operation == NIM_ADD ? "tray add" : "tray modify") + " icon " +
          std::to_string(it->iconResource) + " tip \"" + Narrow(it->tip) + "\"");
    return true;
}

std::wstring PosixUi::AnsiToWide(const std::string& text) {
    // The host's ANSI code page is ISO 8859-1: every byte stands for itself,
    // so a text survives the way to a control and back unchanged.
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string PosixUi::WideToAnsi(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += static_cast<std::uint32_t>(c) <= 0xFF ? static_cast<char>(c) : '?';
    }
    return out;
}

// --- What a user does ---

bool PosixUi::Click(WindowHandle handle) {
    Window* control = Find(handle);
    if (control == nullptr || control->className != "Button" || !control->enabled ||
        !IsVisible(control) || (control->style & BS_TYPEMASK) == BS_GROUPBOX) {
        return false;
    }
    focus_ = control;
    if ((control->style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        control->check = control->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    }
    SendCommand(control, BN_CLICKED);
    return true;
}

bool PosixUi::Type(WindowHandle handle, const std::wstring& text) {
    Window* edit = Find(handle);
    if (edit == nullptr || edit->className != "Edit" || !edit->enabled || !IsVisible(edit) ||
        (edit->style & ES_READONLY) != 0) {
        return false;
    }
    focus_ = edit;
    return SetWindowText(edit, text);
}

bool PosixUi::ClickTab(WindowHandle handle, int index) {
    Window* tab = Find(handle);
    if (tab == nullptr || tab->className != "SysTabControl32" || !tab->enabled || !IsVisible(tab) ||
        index < 0 || index >= static_cast<int>(tab->tabs.size())) {
        return false;
    }
    focus_ = tab;
    SelectTab(tab, index);
    return true;
}

void PosixUi::SelectTab(Window* tab, int index) {
    SendMessage(tab, TCM_SETCURSEL, static_cast<std::uintptr_t>(index), 0);
    SendSelectionChange(tab);
}

// --- The keyboard, as the platform's dialog manager handles it ---

bool PosixUi::Contains(const Window* outer, const Window* inner) const {
    for (; inner != nullptr; inner = inner->parent) {
        if (inner == outer) return true;
    }
    return false;
}

// The tab stops in the order Tab visits them: a page is not a stop itself;
// the walk goes into it while it can be seen. A tab control that holds the
// pages comes after the page shown, as the sheet's tab row does, so that the
// focus starts in the page and Tab leaves it for the tab row.
std::vector<PosixUi::Window*> PosixUi::TabStops(Window* dialog) const {
    std::vector<Window*> stops;
    for (Window* child : dialog->children) {
        if (!child->visible || !child->enabled) continue;
        const bool holdsPages =
            std::any_of(child->children.begin(), child->children.end(),
                        [](const Window* w) { return w->className == dialogClass; });
        if (child->className == dialogClass || holdsPages) {
            std::vector<Window*> inner = TabStops(child);
            stops.insert(stops.end(), inner.begin(), inner.end());
        }
        if (child->className != dialogClass && (child->style & WS_TABSTOP) != 0) {
            stops.push_back(child);
        }
    }
    return stops;
}

PosixUi::Window* PosixUi::TabControlOf(Window* dialog) const {
    for (Window* child : dialog->children) {
        if (child->className == "SysTabControl32" && IsVisible(child) && child->enabled) return child;
    }
    return nullptr;
}

PosixUi::Window* PosixUi::Next(const std::vector<Window*>& stops, const Window* from,
                               bool backwards) const {
    auto at = std::find(stops.begin(), stops.end(), from);
    if (at == stops.end()) return backwards ? stops.back() : stops.front();
    if (backwards) return at == stops.begin() ? stops.back() : *(at - 1);
    return at + 1 == stops.end() ? stops.front() : *(at + 1);
}

bool PosixUi::PressKey(unsigned virtualKey, bool shift, bool control) {
    Window* focus = Find(focus_);
    Window* dialog = Root(focus);
    if (focus == nullptr || !IsVisible(dialog)) return false;
    // Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown and Ctrl+PageUp turn the pages
    // of the dialog's tab control, wherever the focus is, as in a property sheet.
    Window* tabs = TabControlOf(dialog);
    if (control && tabs != nullptr && !tabs->tabs.empty() &&
        (virtualKey == VK_TAB || virtualKey == VK_NEXT || virtualKey == VK_PRIOR)) {
        const int count = static_cast<int>(tabs->tabs.size());
        const int step = (virtualKey == VK_PRIOR || (virtualKey == VK_TAB && shift)) ? -1 : 1;
        SelectTab(tabs, (tabs->selectedTab + step + count) % count);
        return true;
    }
    std::vector<Window*> stops = TabStops(dialog);
    if (!IsVisible(focus)) {
        // Left in a page hidden since: the first stop that can be seen takes
        // the focus, and a Tab has done its work with that.
        if (stops.empty()) return false;
        focus = stops.front();
        focus_ = focus;
        if (virtualKey == VK_TAB) return true;
    }
    const std::uint32_t type = focus->style & BS_TYPEMASK;
    const bool button = focus->className == "Button" && type != BS_GROUPBOX;
    const bool pushButton = button && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
    switch (virtualKey) {
        case VK_TAB:
            if (!stops.empty()) focus_ = Next(stops, focus, shift);
            return true;
        case VK_RETURN:
            if (pushButton) return Click(focus);
            SendMessage(dialog, WM_COMMAND, MakeWParam(IDOK, BN_CLICKED), 0);
            return true;
        case VK_ESCAPE:
            SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
            return true;
        case VK_SPACE:
            if (button) Click(focus);
            return true;
        case VK_LEFT:
        case VK_RIGHT:
            if (focus->className == "SysTabControl32") {
                const int index = focus->selectedTab + (virtualKey == VK_LEFT ? -1 : 1);
                if (index >= 0 && index < static_cast<int>(focus->tabs.size()))
                    SelectTab(focus, index);
            }
            return true;
        default:
            return true;
    }
}

bool PosixUi::PressOk(WindowHandle handle) {
    Window* dialog = Find(handle);
    if (dialog == nullptr || !IsVisible(dialog)) return false;
    SendMessage(dialog, WM_COMMAND, MakeWParam(IDOK, BN_CLICKED), 0);
    return true;
}

bool PosixUi::PressClose(WindowHandle handle) {
    Window* dialog = Find(handle);
    if (dialog == nullptr || !IsVisible(dialog)) return false;
    SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
    return true;
}

void PosixUi::SendTrayMouse(unsigned mouseMessage) {
    if (tray_.empty()) return;
    const TrayIcon icon = tray_.front();
    trayAnswers_.push_back(SendMessage(icon.window, icon.callbackMessage, icon.id,
                                       static_cast<std::intptr_t>(mouseMessage)));
}

bool PosixUi::TapTrayIcon() {
    if (tray_.empty()) return false;
    SendTrayMouse(WM_LBUTTONDOWN);
    SendTrayMouse(WM_LBUTTONUP);
    return true;
}

bool PosixUi::DoubleTapTrayIcon() {
    if (tray_.empty()) return false;
    SendTrayMouse(WM_LBUTTONDOWN);
    SendTrayMouse(WM_LBUTTONUP);
    SendTrayMouse(WM_LBUTTONDBLCLK);
    SendTrayMouse(WM_LBUTTONUP);
    return true;
}

void PosixUi::RestartTaskbar(unsigned taskbarCreatedMessage) {
    if (!tray_.empty()) Trace("tray lost");
    tray_.clear();
    for (Window* window : TopLevel()) SendMessage(window, taskbarCreatedMessage, 0, 0);
}

// --- What a user sees ---

std::optional<PosixUi::TrayIcon> PosixUi::CurrentTrayIcon() const {
    if (tray_.empty()) return std::nullopt;
    return tray_.front();
}

int PosixUi::TemplateOf(WindowHandle handle) const {
    Window* window = Find(handle);
    return window == nullptr ? 0 : window->templateId;
}

std::vector<std::wstring> PosixUi::TabTexts(WindowHandle handle) const {
    std::vector<std::wstring> texts;
    if (Window* tab = Find(handle)) {
        for (const TabEntry& entry : tab->tabs) texts.push_back(entry.text);
    }
    return texts;
}

std::intptr_t PosixUi::TabParameter(WindowHandle handle, int index) const {
    Window* tab = Find(handle);
    if (tab == nullptr || index < 0 || index >= static_cast<int>(tab->tabs.size())) return 0;
    return tab->tabs[static_cast<std::size_t>(index)].parameter;
}

bool PosixUi::IsTopmost(WindowHandle handle) const {
    Window* window = Find(handle);
    return window != nullptr && window->topmost;
}

IconHandle PosixUi::WindowIcon(WindowHandle handle, bool big) const {
    Window* window = Find(handle);
    if (window == nullptr) return nullptr;
    return big ? window->bigIcon : window->smallIcon;
}

void PosixUi::Trace(const std::string& line) const {
    if (tracePath_.empty()) return;
    if (std::FILE* file = std::fopen(tracePath_.c_str(), "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string PosixUi::ItemName(const Window* control) const {
    return std::to_string(control->parent->templateId) + "/" + std::to_string(control->id);
}

std::string PosixUi::Describe(const Window* window) const {
    return std::string(window->parent == nullptr ? "dialog " : "page ") +
           std::to_string(window->templateId);
}

}  // namespace lumivo
