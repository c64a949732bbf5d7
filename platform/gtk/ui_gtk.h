#pragma once
// The user interface on a Linux desktop, in GTK 3: the dialog templates of
// the program's resource script laid out at their dialog-unit positions in
// fixed layouts (dialog units from the template font's real metrics, as the
// Windows dialog manager computes them), real controls with the platform
// behaviour the dialogs rely on, and the tray icon as a StatusNotifierItem
// (platform/gtk/tray_gtk.h).
//  - Edit controls send EN_CHANGE, check boxes and buttons BN_CLICKED, to
//    their dialog; BM_SETCHECK and TCM_SETCURSEL notify nobody.
//  - The tab control is a notebook whose tab row is the control; its pages
//    are the child dialogs the core places under the row. A page change by
//    the user (click, arrows on the row) sends TCN_SELCHANGE.
//  - Keys as the dialog manager handles them for a modeless dialog: Tab and
//    Shift+Tab through the page shown and the tab row after it; Enter is
//    IDOK unless a push button has the focus, Escape and the close box are
//    IDCANCEL; Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown and Ctrl+PageUp turn
//    the pages round the row.
//  - Top-level dialogs are registered with the POSIX system by title (a
//    second copy's "-g" reaches them); SIGINT and SIGTERM are the exit command.
// Texts: the "ANSI code page" of this host is UTF-8; a narrow text that is not
// UTF-8 is shown byte for byte as Latin-1.
//
// With LUMIVO_UI_STATE=<file> the host rewrites the file after every change
// that a user could see, one key=value a line, for tests that drive it from
// outside with real input: visible, focus, tabs.selected, tab.N.centre, and
// per page (general, options, about) .visible and per control
// .ID.enabled, .ID.text (never of an edit control) and .ID.centre (screen pixels).

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/window_tree.h"
#include "platform/ui_port.h"
#include "resources/resource_script.h"

namespace lumivo {

class GtkTray;
class GtkUi;
struct GtkUiWindow;

// A wide text as the toolkit takes it.
std::string Utf8(const std::wstring& text);

class GtkUi : public WindowTree<GtkUiWindow> {
  public:
    explicit GtkUi(PosixSystem* system);
    ~GtkUi() override;

    // The toolkit window of a top-level window made here (for message boxes).
    GtkWindow* ToplevelOf(WindowHandle window) const;
    // The widget of a window made here; null for a window without one.
    GtkWidget* WidgetOf(WindowHandle window) const;

    WindowHandle CreateDialogParam(int templateId, WindowHandle parent,
                                   WindowProcedure& procedure) override;
    WindowHandle CreateWindowEx(std::uint32_t exStyle, const std::wstring& className,
                                const std::wstring& title, std::uint32_t style, int x, int y,
                                int width, int height, WindowHandle parent,
                                WindowProcedure& procedure) override;
    bool DestroyWindow(WindowHandle window) override;
    bool SetWindowText(WindowHandle window, const std::wstring& text) override;
    std::wstring GetWindowText(WindowHandle window) override;
    bool EnableWindow(WindowHandle window, bool enable) override;
    bool IsWindowEnabled(WindowHandle window) override;
    bool ShowWindow(WindowHandle window, int command) override;
    bool IsWindowVisible(WindowHandle window) override;
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
    bool SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int width,
                      int height, unsigned flags) override;
    int GetSystemMetrics(int index) override;
    bool SetForegroundWindow(WindowHandle window) override;
    IconHandle LoadIcon(int resourceId) override;
    bool ShellNotifyIcon(unsigned operation, const NotifyIconData& data) override;
    std::wstring AnsiToWide(const std::string& text) override;
    std::string WideToAnsi(const std::wstring& text) override;

    using Window = GtkUiWindow;

  private:
    struct Units {
        int x = 1, y = 1;  // pixels of 4 horizontal and 8 vertical dialog units
    };

    Window* MakeWindow(Window* parent, const std::string& className, std::uint32_t style);
    Units UnitsOf(const DialogTemplate& dialog) const;
    void BuildControl(Window* dialog, const ControlTemplate& item, const Units& units);
    GtkWidget* Picture(const ControlTemplate& item, int width, int height);
    GdkPixbuf* Image(int resourceId, bool icon);
    void Place(Window* window);
    void Notify(Window* control, unsigned code);
    bool OnKey(Window* dialog, const GdkEventKey* event);
    void FocusFirst(Window* dialog);
    void SetFocusChain(Window* dialog);
    void DestroyTree(Window* window);
    void WriteState();

    static void OnClicked(GtkWidget* widget, gpointer window);
    static void OnChanged(GtkWidget* widget, gpointer window);
    static void OnSwitchPage(GtkNotebook* notebook, GtkWidget* page, guint index, gpointer window);
    static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer window);
    static gboolean OnDelete(GtkWidget* widget, GdkEvent* event, gpointer window);
    static gboolean OnStateTimer(gpointer self);

    std::string statePath_;
    guint stateTimer_ = 0;
    std::map<int, GdkPixbuf*> images_;  // icons and bitmaps by resource number
    std::unique_ptr<GtkTray> tray_;
    NotifyIconData trayData_;
    bool trayAdded_ = false;
    std::string writtenState_;
};

extern template class WindowTree<GtkUiWindow>;

}  // namespace lumivo
