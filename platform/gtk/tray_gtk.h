#pragma once
// The agent's icon on a Linux desktop: a StatusNotifierItem on the session
// bus (the protocol of today's panels), registered with the panel's
// StatusNotifierWatcher whenever one appears; while there is none, the
// XEmbed tray icon of the toolkit stands in. Activate (a click on the item)
// runs the tap given to Show.
//
// libayatana-appindicator is not used: its items are menus only and do not
// implement Activate, and the agent's icon is a button that shows the dialog.

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace lumivo {

class GtkTray {
  public:
    GtkTray();
    ~GtkTray();
    GtkTray(const GtkTray&) = delete;
    GtkTray& operator=(const GtkTray&) = delete;

    void Show(GdkPixbuf* icon, const std::string& tip, std::function<void()> tap);
    void SetIcon(GdkPixbuf* icon);
    void SetTip(const std::string& tip);
    void Hide();

  private:
    void Register();
    void Emit(const char* signal);
    GVariant* Property(const gchar* name);
    void UseFallback(bool use);

    static void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                         const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                         gpointer self);
    static GVariant* OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* name, GError**, gpointer self);
    static void OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self);
    static void OnWatcherVanished(GDBusConnection*, const gchar*, gpointer self);
    static void OnFallbackActivate(GtkStatusIcon*, gpointer self);

    GDBusConnection* bus_ = nullptr;
    guint object_ = 0;
    guint nameOwner_ = 0;
    guint watch_ = 0;
    bool shown_ = false;
    bool watcherPresent_ = false;
    GdkPixbuf* icon_ = nullptr;
    std::string tip_;
    std::string busName_;
    std::function<void()> tap_;
    GtkStatusIcon* fallback_ = nullptr;
};

}  // namespace lumivo
