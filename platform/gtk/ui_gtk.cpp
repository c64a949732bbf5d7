#include "platform/gtk/ui_gtk.h"

#include <gdk/gdkkeysyms.h>

#include <cstdio>
#include <cstdlib>

#include "platform/gtk/images.h"
#include "platform/gtk/tray_gtk.h"
#include "platform/posix/system_posix.h"

namespace lumivo {

namespace {

constexpr const char* dialogClass = dialogClassName;
constexpr const char* tabClass = "SysTabControl32";
// Windows' own sample for the average character width of a dialog font.
constexpr const char* widthSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

}  // namespace

std::string Utf8(const std::wstring& text) {
    gchar* converted = g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(text.c_str()),
                                      static_cast<glong>(text.size()), nullptr, nullptr, nullptr);
    std::string out = converted != nullptr ? converted : "";
    g_free(converted);
    return out;
}

namespace {

std::wstring FromUtf8(const char* text) {
    std::wstring out;
    for (const gchar* p = text; p != nullptr && *p != 0; p = g_utf8_next_char(p))
        out += static_cast<wchar_t>(g_utf8_get_char(p));
    return out;
}

int Scale(int units, int pixelsPer, int per) { return (units * pixelsPer + per / 2) / per; }

std::string PageName(int templateId) {
    switch (templateId) {
        case 156: return "general";
        case 804: return "options";
        case 805: return "about";
        default: return std::to_string(templateId);
    }
}

}  // namespace

// The record's text is that of dialogs and plain windows, its `visible`
// that of plain windows; a control's are its widget's.
struct GtkUiWindow : WindowRecord<GtkUiWindow> {
    GtkUi* ui = nullptr;
    GtkWidget* widget = nullptr;  // the window itself; null for a plain window
    GtkWidget* layout = nullptr;  // dialogs: where their controls and pages sit
    bool quiet = false;           // the change under way is the program's, not the user's
};

template class WindowTree<GtkUiWindow>;

GtkUi::GtkUi(PosixSystem* system) : WindowTree(system) {
    if (const char* state = std::getenv("LUMIVO_UI_STATE")) {
        statePath_ = state;
        stateTimer_ = g_timeout_add(100, &GtkUi::OnStateTimer, this);
    }
    // The templates' font (the one the dialog units come from), and compact
    // controls, as the templates' small heights expect.
    std::string rules =
        "entry, button { min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "notebook > header > tabs > tab { min-height: 0; padding-top: 2px; padding-bottom: 2px; }";
    if (!script_.dialogs.empty() && script_.dialogs[0].fontSize > 0) {
        rules += "window.lumivo, window.lumivo * { font-family: \"" + script_.dialogs[0].fontFace +
                 "\", Roboto, sans-serif; font-size: " +
                 std::to_string(script_.dialogs[0].fontSize) + "pt; }";
    }
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, rules.c_str(), -1, nullptr);
    if (GdkScreen* screen = gdk_screen_get_default()) {
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }
    g_object_unref(css);
    tray_ = std::make_unique<GtkTray>();
}

GtkUi::~GtkUi() {
    if (stateTimer_ != 0) g_source_remove(stateTimer_);
    tray_.reset();
    ReleaseSystem();
    const std::vector<Window*> roots = TopLevel();
    std::vector<GtkWidget*> tops;
    for (Window* root : roots) {
        if (root->widget != nullptr) tops.push_back(root->widget);
    }
    for (Window* root : roots) DestroyTree(root);
    for (GtkWidget* top : tops) gtk_widget_destroy(top);
    for (const auto& image : images_) g_object_unref(image.second);
}

GtkUi::Window* GtkUi::MakeWindow(Window* parent, const std::string& className,
                                 std::uint32_t style) {
    Window* window = Make(parent, className, style);
    window->ui = this;
    return window;
}

GtkWindow* GtkUi::ToplevelOf(WindowHandle handle) const {
    Window* window = Root(Find(handle));
    return window != nullptr && window->widget != nullptr ? GTK_WINDOW(window->widget) : nullptr;
}

GtkWidget* GtkUi::WidgetOf(WindowHandle handle) const {
    Window* window = Find(handle);
    return window != nullptr ? window->widget : nullptr;
}

// Dialog units from the template's font as this desktop renders it: the
// average width of the Latin letters and the height of a line, as Windows
// derives a dialog's base units from its font.
GtkUi::Units GtkUi::UnitsOf(const DialogTemplate& dialog) const {
    Units units;
    const std::string name = dialog.fontFace + ",Roboto,sans-serif " +
                             std::to_string(dialog.fontSize > 0 ? dialog.fontSize : 8);
    PangoFontDescription* font = pango_font_description_from_string(name.c_str());
    PangoContext* context = gdk_pango_context_get();
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, widthSample, -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
    const int line = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) +
                                  pango_font_metrics_get_descent(metrics));
    units.x = (width / 26 + 1) / 2;
    units.y = line > 0 ? line : height;
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    g_object_unref(context);
    pango_font_description_free(font);
    if (units.x <= 0) units.x = 1;
    if (units.y <= 0) units.y = 1;
    return units;
}

GdkPixbuf* GtkUi::Image(int resourceId, bool icon) {
    auto cached = images_.find(resourceId);
    if (cached != images_.end()) return cached->second;
    const auto& names = icon ? script_.icons : script_.bitmaps;
    auto named = names.find(resourceId);
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    if (named == names.end() || !EmbeddedImage(named->second, data, size)) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* image = nullptr;
    if (gdk_pixbuf_loader_write(loader, data, size, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        image = gdk_pixbuf_loader_get_pixbuf(loader);
        if (image != nullptr) g_object_ref(image);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    if (image != nullptr) images_[resourceId] = image;
    return image;
}

GtkWidget* GtkUi::Picture(const ControlTemplate& item, int, int) {
    const bool icon = (item.style & 0x1F) == SS_ICON;
    GdkPixbuf* image = Image(item.imageResource, icon);
    return image != nullptr ? gtk_image_new_from_pixbuf(image) : gtk_image_new();
}

void GtkUi::BuildControl(Window* dialog, const ControlTemplate& item, const Units& units) {
    Window* control = MakeWindow(dialog, item.className, item.style);
    control->id = item.id;
    control->rect = Rect{Scale(item.x, units.x, 4), Scale(item.y, units.y, 8),
                         Scale(item.x + item.width, units.x, 4),
                         Scale(item.y + item.height, units.y, 8)};
    const int width = control->rect.right - control->rect.left;
    const int height = control->rect.bottom - control->rect.top;
    const std::string text = Utf8(AnsiToWide(item.text));
    const std::uint32_t type = item.style & BS_TYPEMASK;
    GtkWidget* widget = nullptr;
    if (item.className == "Static") {
        const std::uint32_t kind = item.style & 0x1F;
        if (kind == SS_ICON || kind == SS_BITMAP) {
            widget = Picture(item, width, height);
        } else {
            widget = gtk_label_new(text.c_str());
            gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
            gtk_label_set_xalign(GTK_LABEL(widget), 0);
            gtk_label_set_yalign(GTK_LABEL(widget), 0);
            // Wrapped at the control's width in characters: a label asked for
            // its height alone answers for that width, not for one character.
            const int characters = width / units.x > 0 ? width / units.x : 1;
            gtk_label_set_width_chars(GTK_LABEL(widget), characters);
            gtk_label_set_max_width_chars(GTK_LABEL(widget), characters);
            gtk_widget_set_size_request(widget, width, height);
        }
    } else if (item.className == "Edit") {
        widget = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
        gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
        if ((item.style & ES_PASSWORD) != 0) gtk_entry_set_visibility(GTK_ENTRY(widget), FALSE);
        if ((item.style & ES_READONLY) != 0) gtk_editable_set_editable(GTK_EDITABLE(widget), FALSE);
        gtk_widget_set_size_request(widget, width, height);
        g_signal_connect(widget, "changed", G_CALLBACK(&GtkUi::OnChanged), control);
    } else if (item.className == "Button" && type == BS_GROUPBOX) {
        widget = gtk_frame_new(text.c_str());
        gtk_widget_set_size_request(widget, width, height);
    } else if (item.className == "Button") {
        widget = type == BS_AUTOCHECKBOX ? gtk_check_button_new_with_label(text.c_str())
                                         : gtk_button_new_with_label(text.c_str());
        gtk_widget_set_size_request(widget, width, height);
        g_signal_connect(widget, "clicked", G_CALLBACK(&GtkUi::OnClicked), control);
    } else if (item.className == tabClass) {
        widget = gtk_notebook_new();
        gtk_widget_set_size_request(widget, width, height);
        g_signal_connect_after(widget, "switch-page", G_CALLBACK(&GtkUi::OnSwitchPage), control);
    } else {
        widget = gtk_label_new(text.c_str());
    }
    gtk_widget_set_can_focus(widget, (item.style & WS_TABSTOP) != 0 ? TRUE : FALSE);
    gtk_widget_set_sensitive(widget, (item.style & WS_DISABLED) == 0 ? TRUE : FALSE);
    gtk_widget_set_no_show_all(widget, TRUE);
    control->widget = widget;
    Place(control);
    if ((item.style & WS_VISIBLE) != 0) gtk_widget_show(widget);
}

// A window's widget sits in the layout of the nearest dialog above it, at
// its place in its parent plus the places of the windows between.
void GtkUi::Place(Window* window) {
    if (window->parent == nullptr) {
        if (window->widget == nullptr) return;
        gtk_window_move(GTK_WINDOW(window->widget), window->rect.left, window->rect.top);
        gtk_window_resize(GTK_WINDOW(window->widget), window->rect.right - window->rect.left,
                          window->rect.bottom - window->rect.top);
        return;
    }
    int x = window->rect.left, y = window->rect.top;
    Window* holder = window->parent;
    while (holder != nullptr && holder->layout == nullptr) {
        x += holder->rect.left;
        y += holder->rect.top;
        holder = holder->parent;
    }
    if (holder == nullptr || window->widget == nullptr) return;
    if (gtk_widget_get_parent(window->widget) == holder->layout) {
        gtk_fixed_move(GTK_FIXED(holder->layout), window->widget, x, y);
    } else {
        gtk_fixed_put(GTK_FIXED(holder->layout), window->widget, x, y);
    }
}

WindowHandle GtkUi::CreateDialogParam(int templateId, WindowHandle parent,
                                      WindowProcedure& procedure) {
    const DialogTemplate* dialog = script_.FindDialog(templateId);
    Window* parentWindow = Find(parent);
    if (dialog == nullptr || (parent != nullptr && parentWindow == nullptr)) return nullptr;

    const Units units = UnitsOf(*dialog);
    Window* window = MakeWindow(parentWindow, dialogClass, dialog->style);
    window->templateId = templateId;
    window->text = AnsiToWide(dialog->caption);
    const int width = Scale(dialog->width, units.x, 4);
    const int height = Scale(dialog->height, units.y, 8);
    window->layout = gtk_fixed_new();
    gtk_widget_set_size_request(window->layout, width, height);
    gtk_widget_set_no_show_all(window->layout, parentWindow != nullptr);
    if (parentWindow == nullptr) {
        GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(top), Utf8(window->text).c_str());
        gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
        gtk_style_context_add_class(gtk_widget_get_style_context(top), "lumivo");
        gtk_container_add(GTK_CONTAINER(top), window->layout);
        gtk_widget_show(window->layout);
        window->widget = top;
        g_signal_connect(top, "key-press-event", G_CALLBACK(&GtkUi::OnKeyPress), window);
        g_signal_connect(top, "delete-event", G_CALLBACK(&GtkUi::OnDelete), window);
        // DS_CENTER
        GdkRectangle screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        window->rect = Rect{(screen.width - width) / 2, (screen.height - height) / 2,
                            (screen.width + width) / 2, (screen.height + height) / 2};
    } else {
        window->widget = window->layout;
        window->rect = Rect{0, 0, width, height};
    }
    for (const ControlTemplate& item : dialog->controls) BuildControl(window, item, units);
    Place(window);
    SetFocusChain(window);
    bool setFocus = true;
    if (!Initialise(window, procedure, setFocus)) return nullptr;
    if (parentWindow != nullptr) SetFocusChain(Root(window));
    if (parentWindow == nullptr && setFocus) FocusFirst(window);
    if ((dialog->style & WS_VISIBLE) != 0) ShowWindow(window, SW_SHOW);
    return window;
}

// Tab visits the tab stops in template order; a dialog's pages come before
// the tab control that holds them, so the focus starts in the page shown and
// Tab leaves the page for the tab row. Hidden and disabled ones are skipped.
void GtkUi::SetFocusChain(Window* dialog) {
    GList* chain = nullptr;
    std::vector<Window*> holders;
    for (Window* child : dialog->children) {
        if (child->widget == nullptr) continue;
        bool holdsPages = false;
        for (Window* inner : child->children) {
            if (inner->className != dialogClass) continue;
            holdsPages = true;
            chain = g_list_append(chain, inner->widget);
        }
        if (holdsPages) holders.push_back(child);
        if (!holdsPages && (child->style & WS_TABSTOP) != 0)
            chain = g_list_append(chain, child->widget);
    }
    for (Window* holder : holders) chain = g_list_append(chain, holder->widget);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(dialog->layout), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
}

void GtkUi::FocusFirst(Window* dialog) {
    gtk_widget_child_focus(dialog->layout, GTK_DIR_TAB_FORWARD);
}

// A window of a registered class: the tray's hidden window, which only
// takes messages.
WindowHandle GtkUi::CreateWindowEx(std::uint32_t, const std::wstring& className,
                                   const std::wstring& title, std::uint32_t style, int x, int y,
                                   int width, int height, WindowHandle parent,
                                   WindowProcedure& procedure) {
    Window* window =
        MakePlain(className, Utf8(className), title, style, x, y, width, height, parent, procedure);
    if (window != nullptr) window->ui = this;
    return window;
}

// The widgets' signals name their windows: they are cut before either goes
// (a notebook losing its pages would still report a page change).
void GtkUi::DestroyTree(Window* window) {
    std::vector<Window*> children = window->children;
    for (Window* child : children) DestroyTree(child);
    if (window->widget != nullptr) {
        g_signal_handlers_disconnect_matched(window->widget, G_SIGNAL_MATCH_DATA, 0, 0, nullptr,
                                             nullptr, window);
    }
    Erase(window);
}

bool GtkUi::DestroyWindow(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    Detach(window);
    GtkWidget* widget = window->widget;
    window->procedure = nullptr;
    DestroyTree(window);
    if (widget != nullptr) gtk_widget_destroy(widget);
    return true;
}

bool GtkUi::SetWindowText(WindowHandle handle, const std::wstring& text) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    const std::string utf8 = Utf8(text);
    GtkWidget* widget = window->widget;
    if (window->className == dialogClass || widget == nullptr) {
        window->text = text;
        if (window->parent == nullptr && widget != nullptr)
            gtk_window_set_title(GTK_WINDOW(widget), utf8.c_str());
        TitleChanged(window, text);
    } else if (GTK_IS_ENTRY(widget)) {
        gtk_entry_set_text(GTK_ENTRY(widget), utf8.c_str());  // sends EN_CHANGE
    } else if (GTK_IS_LABEL(widget)) {
        gtk_label_set_text(GTK_LABEL(widget), utf8.c_str());
    } else if (GTK_IS_FRAME(widget)) {
        gtk_frame_set_label(GTK_FRAME(widget), utf8.c_str());
    } else if (GTK_IS_BUTTON(widget)) {
        gtk_button_set_label(GTK_BUTTON(widget), utf8.c_str());
    }
    return true;
}

std::wstring GtkUi::GetWindowText(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr) return L"";
    GtkWidget* widget = window->widget;
    if (window->className == dialogClass || widget == nullptr) return window->text;
    if (GTK_IS_ENTRY(widget)) return FromUtf8(gtk_entry_get_text(GTK_ENTRY(widget)));
    if (GTK_IS_LABEL(widget)) return FromUtf8(gtk_label_get_text(GTK_LABEL(widget)));
    if (GTK_IS_FRAME(widget)) return FromUtf8(gtk_frame_get_label(GTK_FRAME(widget)));
    if (GTK_IS_BUTTON(widget)) return FromUtf8(gtk_button_get_label(GTK_BUTTON(widget)));
    return L"";
}

bool GtkUi::EnableWindow(WindowHandle handle, bool enable) {
    Window* window = Find(handle);
    if (window == nullptr || window->widget == nullptr) return false;
    const bool wasDisabled = !gtk_widget_get_sensitive(window->widget);
    if (!enable && gtk_widget_has_focus(window->widget)) {
        // The focus moves on rather than staying on a control that takes no keys.
        Window* root = Root(window);
        if (root->widget != nullptr) gtk_widget_child_focus(root->widget, GTK_DIR_TAB_FORWARD);
    }
    gtk_widget_set_sensitive(window->widget, enable ? TRUE : FALSE);
    return wasDisabled;
}

bool GtkUi::IsWindowEnabled(WindowHandle handle) {
    Window* window = Find(handle);
    return window != nullptr && window->widget != nullptr &&
           gtk_widget_get_sensitive(window->widget);
}

bool GtkUi::ShowWindow(WindowHandle handle, int command) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    if (window->widget == nullptr) {
        const bool was = window->visible;
        window->visible = command != SW_HIDE;
        return was;
    }
    const bool was = gtk_widget_get_visible(window->widget);
    if (command == SW_HIDE) {
        gtk_widget_hide(window->widget);
    } else {
        gtk_widget_show(window->widget);
    }
    return was;
}

bool GtkUi::IsWindowVisible(WindowHandle handle) {
    Window* window = Find(handle);
    if (window == nullptr) return false;
    for (; window != nullptr; window = window->parent) {
        const bool shown = window->widget != nullptr ? gtk_widget_get_visible(window->widget)
                                                     : window->visible;
        if (!shown) return false;
    }
    return true;
}

std::intptr_t GtkUi::SendMessage(WindowHandle handle, unsigned message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    Window* window = Find(handle);
    if (window == nullptr) return 0;
    GtkWidget* widget = window->widget;
    if (widget != nullptr && GTK_IS_TOGGLE_BUTTON(widget)) {
        GtkToggleButton* box = GTK_TOGGLE_BUTTON(widget);
        if (message == BM_GETCHECK) return gtk_toggle_button_get_active(box) ? BST_CHECKED : BST_UNCHECKED;
        if (message == BM_SETCHECK) {
            window->quiet = true;  // the program's own change: no BN_CLICKED
            gtk_toggle_button_set_active(box, wParam == BST_CHECKED);
            window->quiet = false;
            return 0;
        }
    }
    if (widget != nullptr && GTK_IS_NOTEBOOK(widget)) {
        GtkNotebook* notebook = GTK_NOTEBOOK(widget);
        const int count = gtk_notebook_get_n_pages(notebook);
        const int index = static_cast<int>(wParam);
        switch (message) {
            case TCM_INSERTITEMW: {
                const auto* item = reinterpret_cast<const TabItem*>(lParam);
                if (item == nullptr || index < 0) return -1;
                std::wstring text;
                if ((item->mask & TCIF_TEXT) != 0 && item->pszText != nullptr) text = item->pszText;
                GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
                gtk_widget_show(page);
                window->quiet = true;
                const int at = gtk_notebook_insert_page(notebook, page,
                                                        gtk_label_new(Utf8(text).c_str()),
                                                        index < count ? index : count);
                window->quiet = false;
                return at;
            }
            case TCM_GETITEMRECT: {
                auto* rect = reinterpret_cast<Rect*>(lParam);
                if (rect == nullptr || index < 0 || index >= count) return 0;
                // The row's height as the notebook asks for it with empty pages.
                gint requestWidth = 0, requestHeight = 0, row = 0;
                gtk_widget_get_size_request(widget, &requestWidth, &requestHeight);
                gtk_widget_set_size_request(widget, -1, -1);
                gtk_widget_get_preferred_height(widget, nullptr, &row);
                gtk_widget_set_size_request(widget, requestWidth, requestHeight);
                GtkWidget* label =
                    gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, index));
                gint labelWidth = 0;
                gtk_widget_get_preferred_width(label, nullptr, &labelWidth);
                *rect = Rect{2, 2, 2 + labelWidth, row - 2};
                return 1;
            }
            case TCM_GETCURSEL:
                return gtk_notebook_get_current_page(notebook);
            case TCM_SETCURSEL: {
                if (index < 0 || index >= count) return -1;
                const int previous = gtk_notebook_get_current_page(notebook);
                window->quiet = true;  // no TCN_SELCHANGE for the program's own choice
                gtk_notebook_set_current_page(notebook, index);
                window->quiet = false;
                return previous;
            }
            default:
                break;
        }
    }
    if (message == WM_SETICON) {
        if (window->parent == nullptr && widget != nullptr && wParam == ICON_BIG && lParam != 0)
            gtk_window_set_icon(GTK_WINDOW(widget), static_cast<GdkPixbuf*>(reinterpret_cast<void*>(lParam)));
        return 0;
    }
    return CallProcedure(window, message, wParam, lParam);
}

bool GtkUi::SetWindowPos(WindowHandle handle, WindowHandle insertAfter, int x, int y, int width,
                         int height, unsigned flags) {
    Window* window = Reposition(handle, x, y, width, height, flags);
    if (window == nullptr) return false;
    const Rect& r = window->rect;
    if ((flags & SWP_NOZORDER) == 0 && window->parent == nullptr && window->widget != nullptr)
        gtk_window_set_keep_above(GTK_WINDOW(window->widget), insertAfter == HWND_TOPMOST);
    if (window->widget != nullptr && window->parent != nullptr && (flags & SWP_NOSIZE) == 0)
        gtk_widget_set_size_request(window->widget, r.right - r.left, r.bottom - r.top);
    Place(window);
    return true;
}

int GtkUi::GetSystemMetrics(int index) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return 0;
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    return index == SM_CXSCREEN ? area.width : index == SM_CYSCREEN ? area.height : 0;
}

bool GtkUi::SetForegroundWindow(WindowHandle handle) {
    Window* window = Root(Find(handle));
    if (window == nullptr || window->widget == nullptr) return false;
    gtk_window_present(GTK_WINDOW(window->widget));
    return true;
}

IconHandle GtkUi::LoadIcon(int resourceId) { return Image(resourceId, true); }

// One icon, the agent's: its owner gets the callback message for a tap.
bool GtkUi::ShellNotifyIcon(unsigned operation, const NotifyIconData& data) {
    if (data.cbSize != notifyIconDataSize || !tray_) return false;
    NotifyIconData& current = trayData_;
    bool& added = trayAdded_;
    const bool same = added && current.hWnd == data.hWnd && current.uID == data.uID;
    if (operation == NIM_DELETE) {
        if (!same) return false;
        added = false;
        tray_->Hide();
        return true;
    }
    if (operation == NIM_ADD ? added : !same) return false;
    if (operation != NIM_ADD && operation != NIM_MODIFY) return false;
    if (operation == NIM_ADD) current = NotifyIconData();
    current.hWnd = data.hWnd;
    current.uID = data.uID;
    if ((data.uFlags & NIF_MESSAGE) != 0) current.uCallbackMessage = data.uCallbackMessage;
    if ((data.uFlags & NIF_ICON) != 0) current.hIcon = data.hIcon;
    if ((data.uFlags & NIF_TIP) != 0) std::copy(data.szTip, data.szTip + notifyTipUnits, current.szTip);
    const std::string tip = Utf8(WideFromUtf16(current.szTip, notifyTipUnits));
    if (operation == NIM_ADD) {
        added = true;
        tray_->Show(static_cast<GdkPixbuf*>(current.hIcon), tip, [this] {
            const NotifyIconData icon = trayData_;
            SendMessage(icon.hWnd, icon.uCallbackMessage, icon.uID, WM_LBUTTONDOWN);
            SendMessage(icon.hWnd, icon.uCallbackMessage, icon.uID, WM_LBUTTONUP);
        });
    } else {
        if ((data.uFlags & NIF_ICON) != 0) tray_->SetIcon(static_cast<GdkPixbuf*>(current.hIcon));
        if ((data.uFlags & NIF_TIP) != 0) tray_->SetTip(tip);
    }
    return true;
}

std::wstring GtkUi::AnsiToWide(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return FromUtf8(text.c_str());
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string GtkUi::WideToAnsi(const std::wstring& text) { return Utf8(text); }

// --- What the user does ---

void GtkUi::Notify(Window* control, unsigned code) {
    if (!control->quiet) SendCommand(control, code);
}

void GtkUi::OnClicked(GtkWidget*, gpointer window) {
    auto* control = static_cast<Window*>(window);
    control->ui->Notify(control, BN_CLICKED);
}

void GtkUi::OnChanged(GtkWidget*, gpointer window) {
    auto* control = static_cast<Window*>(window);
    // Every change, the program's too, as an edit control's SetWindowText does.
    control->ui->SendCommand(control, EN_CHANGE);
}

void GtkUi::OnSwitchPage(GtkNotebook*, GtkWidget*, guint, gpointer window) {
    auto* tab = static_cast<Window*>(window);
    if (!tab->quiet) tab->ui->SendSelectionChange(tab);
}

gboolean GtkUi::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer window) {
    auto* dialog = static_cast<Window*>(window);
    return dialog->ui->OnKey(dialog, event) ? TRUE : FALSE;
}

bool GtkUi::OnKey(Window* dialog, const GdkEventKey* event) {
    const guint state = event->state & gtk_accelerator_get_default_mod_mask();
    const bool control = (state & GDK_CONTROL_MASK) != 0;
    const bool shift = (state & GDK_SHIFT_MASK) != 0;
    const guint key = event->keyval;
    const bool tabKey = key == GDK_KEY_Tab || key == GDK_KEY_ISO_Left_Tab || key == GDK_KEY_KP_Tab;
    if (control && (tabKey || key == GDK_KEY_Page_Down || key == GDK_KEY_Page_Up)) {
        // The pages turn round the row from anywhere in the dialog, as in a property sheet.
        for (Window* child : dialog->children) {
            if (child->className != tabClass || !gtk_widget_is_sensitive(child->widget)) continue;
            GtkNotebook* notebook = GTK_NOTEBOOK(child->widget);
            const int count = gtk_notebook_get_n_pages(notebook);
            if (count <= 0) return true;
            const int step = (key == GDK_KEY_Page_Up || (tabKey && shift)) ? -1 : 1;
            gtk_notebook_set_current_page(
                notebook, (gtk_notebook_get_current_page(notebook) + step + count) % count);
            return true;
        }
        return false;
    }
    if (state != 0) return false;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->widget));
    if (key == GDK_KEY_Escape) {
        SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
        return true;
    }
    if (key == GDK_KEY_Return || key == GDK_KEY_KP_Enter) {
        const bool pushButton = focus != nullptr && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus);
        if (pushButton) return false;  // the button presses itself
        SendMessage(dialog, WM_COMMAND, MakeWParam(IDOK, BN_CLICKED), 0);
        return true;
    }
    return false;
}

gboolean GtkUi::OnDelete(GtkWidget*, GdkEvent*, gpointer window) {
    auto* dialog = static_cast<Window*>(window);
    dialog->ui->SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
    return TRUE;  // the dialog decides; the window stays
}

// --- What a test sees ---

gboolean GtkUi::OnStateTimer(gpointer self) {
    static_cast<GtkUi*>(self)->WriteState();
    return G_SOURCE_CONTINUE;
}

void GtkUi::WriteState() {
    std::string state;
    auto add = [&state](const std::string& key, const std::string& value) {
        state += key + "=" + value + "\n";
    };
    auto centre = [](GtkWidget* widget) -> std::string {
        GtkWidget* top = gtk_widget_get_toplevel(widget);
        if (!gtk_widget_get_mapped(widget) || gtk_widget_get_window(top) == nullptr) return "";
        int x = 0, y = 0, ox = 0, oy = 0;
        gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y);
        gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
        GtkAllocation box;
        gtk_widget_get_allocation(widget, &box);
        return std::to_string(ox + x + box.width / 2) + " " + std::to_string(oy + y + box.height / 2);
    };
    std::string question;
    GList* tops = gtk_window_list_toplevels();
    for (GList* item = tops; item != nullptr; item = item->next) {
        GtkWidget* top = GTK_WIDGET(item->data);
        if (GTK_IS_MESSAGE_DIALOG(top) && gtk_widget_get_visible(top)) {
            gchar* text = nullptr;
            g_object_get(top, "text", &text, nullptr);
            question = text != nullptr ? text : "";
            g_free(text);
        }
    }
    g_list_free(tops);
    add("question", question);
    for (const auto& entry : Windows()) {
        Window* dialog = entry.second.get();
        if (dialog->parent != nullptr || dialog->className != dialogClass) continue;
        add("visible", gtk_widget_get_visible(dialog->widget) ? "1" : "0");
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->widget));
        std::string focusName;
        for (const auto& other : Windows()) {
            Window* w = other.second.get();
            if (w->widget == nullptr || w->className == dialogClass) continue;
            const std::string prefix = w->className == tabClass
                                           ? "tabs"
                                           : PageName(w->parent->templateId) + "." + std::to_string(w->id);
            if (w->widget == focus && gtk_widget_has_focus(focus)) focusName = prefix;
            if (w->className == tabClass) {
                GtkNotebook* notebook = GTK_NOTEBOOK(w->widget);
                add("tabs.selected", std::to_string(gtk_notebook_get_current_page(notebook)));
                for (int i = 0; i < gtk_notebook_get_n_pages(notebook); ++i) {
                    add("tab." + std::to_string(i) + ".centre",
                        centre(gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, i))));
                }
                continue;
            }
            add(prefix + ".enabled", gtk_widget_get_sensitive(w->widget) ? "1" : "0");
            add(prefix + ".centre", centre(w->widget));
            if (GTK_IS_TOGGLE_BUTTON(w->widget))
                add(prefix + ".checked", gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w->widget)) ? "1" : "0");
            if (!GTK_IS_ENTRY(w->widget)) add(prefix + ".text", Utf8(GetWindowText(w)));
        }
        add("focus", focusName);
    }
    for (const auto& entry : Windows()) {
        Window* page = entry.second.get();
        if (page->parent != nullptr && page->className == dialogClass)
            add(PageName(page->templateId) + ".visible", IsWindowVisible(page) ? "1" : "0");
    }
    if (state == writtenState_) return;
    const std::string temporary = statePath_ + ".new";
    if (std::FILE* file = std::fopen(temporary.c_str(), "w")) {
        std::fputs(state.c_str(), file);
        std::fclose(file);
        std::rename(temporary.c_str(), statePath_.c_str());
        writtenState_ = state;
    }
}

}  // namespace lumivo
