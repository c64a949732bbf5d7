#include "platform/gtk/tray_gtk.h"

#include <unistd.h>

// The XEmbed tray icon is deprecated in GTK 3, and still the one there is.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace lumivo {

namespace {

constexpr const char* itemPath = "/StatusNotifierItem";
constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* itemInterface = "org.kde.StatusNotifierItem";

const char* const itemXml =
    "<node><interface name='org.kde.StatusNotifierItem'>"
    "<property name='Category' type='s' access='read'/>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Title' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='WindowId' type='i' access='read'/>"
    "<property name='IconName' type='s' access='read'/>"
    "<property name='IconPixmap' type='a(iiay)' access='read'/>"
    "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "<property name='ItemIsMenu' type='b' access='read'/>"
    "<method name='Activate'><arg name='x' type='i' direction='in'/>"
    "<arg name='y' type='i' direction='in'/></method>"
    "<method name='SecondaryActivate'><arg name='x' type='i' direction='in'/>"
    "<arg name='y' type='i' direction='in'/></method>"
    "<method name='ContextMenu'><arg name='x' type='i' direction='in'/>"
    "<arg name='y' type='i' direction='in'/></method>"
    "<method name='Scroll'><arg name='delta' type='i' direction='in'/>"
    "<arg name='orientation' type='s' direction='in'/></method>"
    "<signal name='NewIcon'/><signal name='NewToolTip'/><signal name='NewStatus'>"
    "<arg name='status' type='s'/></signal>"
    "</interface></node>";

// The image as the protocol carries it: ARGB32 pixels in network byte order.
GVariant* Pixmaps(GdkPixbuf* icon) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(iiay)"));
    if (icon != nullptr) {
        GdkPixbuf* rgba = gdk_pixbuf_add_alpha(icon, FALSE, 0, 0, 0);
        const int width = gdk_pixbuf_get_width(rgba);
        const int height = gdk_pixbuf_get_height(rgba);
        const int stride = gdk_pixbuf_get_rowstride(rgba);
        const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
        GByteArray* argb = g_byte_array_sized_new(static_cast<guint>(width * height * 4));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const guchar* p = pixels + y * stride + x * 4;
                const guchar out[4] = {p[3], p[0], p[1], p[2]};
                g_byte_array_append(argb, out, 4);
            }
        }
        GVariant* bytes = g_variant_new_from_data(G_VARIANT_TYPE("ay"), argb->data, argb->len,
                                                  TRUE, reinterpret_cast<GDestroyNotify>(g_byte_array_unref),
                                                  argb);
        g_variant_builder_add(&list, "(ii@ay)", width, height, bytes);
        g_object_unref(rgba);
    }
    return g_variant_builder_end(&list);
}

}  // namespace

GtkTray::GtkTray() {
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus_ == nullptr) return;
    static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(itemXml, nullptr);
    static const GDBusInterfaceVTable table = {&GtkTray::OnMethod, &GtkTray::OnGetProperty,
                                               nullptr, {}};
    object_ = g_dbus_connection_register_object(bus_, itemPath, node->interfaces[0], &table, this,
                                                nullptr, nullptr);
    busName_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
    nameOwner_ = g_bus_own_name_on_connection(bus_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                              nullptr, nullptr, nullptr, nullptr);
}

GtkTray::~GtkTray() {
    Hide();
    if (fallback_ != nullptr) g_object_unref(fallback_);
    if (bus_ != nullptr) {
        if (nameOwner_ != 0) g_bus_unown_name(nameOwner_);
        if (object_ != 0) g_dbus_connection_unregister_object(bus_, object_);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }
    if (icon_ != nullptr) g_object_unref(icon_);
}

void GtkTray::Show(GdkPixbuf* icon, const std::string& tip, std::function<void()> tap) {
    tap_ = std::move(tap);
    tip_ = tip;
    SetIcon(icon);
    shown_ = true;
    if (bus_ != nullptr && watch_ == 0) {
        // Calls back at once with the watcher's presence, and again whenever
        // a panel starts or goes: the item is registered with each new one.
        watch_ = g_bus_watch_name_on_connection(bus_, watcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                &GtkTray::OnWatcherAppeared,
                                                &GtkTray::OnWatcherVanished, this, nullptr);
    } else {
        UseFallback(!watcherPresent_);
    }
    Emit("NewToolTip");
}

void GtkTray::SetIcon(GdkPixbuf* icon) {
    if (icon != nullptr) g_object_ref(icon);
    if (icon_ != nullptr) g_object_unref(icon_);
    icon_ = icon;
    if (fallback_ != nullptr && icon_ != nullptr) gtk_status_icon_set_from_pixbuf(fallback_, icon_);
    Emit("NewIcon");
}

void GtkTray::SetTip(const std::string& tip) {
    tip_ = tip;
    if (fallback_ != nullptr) gtk_status_icon_set_tooltip_text(fallback_, tip_.c_str());
    Emit("NewToolTip");
}

void GtkTray::Hide() {
    if (!shown_) return;
    shown_ = false;
    if (watch_ != 0) g_bus_unwatch_name(watch_);
    watch_ = 0;
    UseFallback(false);
    // The watcher drops the item when its name goes; "Passive" tells it now.
    if (bus_ != nullptr) {
        g_dbus_connection_emit_signal(bus_, nullptr, itemPath, itemInterface, "NewStatus",
                                      g_variant_new("(s)", "Passive"), nullptr);
    }
}

void GtkTray::Register() {
    g_dbus_connection_call(bus_, watcherName, "/StatusNotifierWatcher", watcherName,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", busName_.c_str()),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr, nullptr);
}

void GtkTray::Emit(const char* signal) {
    if (bus_ == nullptr || !shown_) return;
    g_dbus_connection_emit_signal(bus_, nullptr, itemPath, itemInterface, signal, nullptr, nullptr);
}

void GtkTray::UseFallback(bool use) {
    if (use && fallback_ == nullptr) {
        fallback_ = gtk_status_icon_new();
        g_signal_connect(fallback_, "activate", G_CALLBACK(&GtkTray::OnFallbackActivate), this);
    }
    if (fallback_ != nullptr) {
        if (use) {
            if (icon_ != nullptr) gtk_status_icon_set_from_pixbuf(fallback_, icon_);
            gtk_status_icon_set_tooltip_text(fallback_, tip_.c_str());
        }
        gtk_status_icon_set_visible(fallback_, use ? TRUE : FALSE);
    }
}

GVariant* GtkTray::Property(const gchar* name) {
    const std::string property = name;
    if (property == "Category") return g_variant_new_string("ApplicationStatus");
    if (property == "Id") return g_variant_new_string("lumivo-runtime");
    if (property == "Title") return g_variant_new_string(tip_.c_str());
    if (property == "Status") return g_variant_new_string(shown_ ? "Active" : "Passive");
    if (property == "WindowId") return g_variant_new_int32(0);
    if (property == "IconName") return g_variant_new_string("");
    if (property == "IconPixmap") return Pixmaps(icon_);
    if (property == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (property == "ToolTip") {
        return g_variant_new("(s@a(iiay)ss)", "", Pixmaps(nullptr), tip_.c_str(), "");
    }
    return nullptr;
}

void GtkTray::OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                       gpointer self) {
    auto* tray = static_cast<GtkTray*>(self);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    // A click is a tap; the other buttons and the wheel do nothing, as on the board.
    if (g_strcmp0(method, "Activate") == 0 && tray->shown_ && tray->tap_) {
        auto tap = tray->tap_;
        tap();
    }
}

GVariant* GtkTray::OnGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar* name, GError** error, gpointer self) {
    GVariant* value = static_cast<GtkTray*>(self)->Property(name);
    if (value == nullptr) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", name);
    }
    return value;
}

void GtkTray::OnWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self) {
    auto* tray = static_cast<GtkTray*>(self);
    tray->watcherPresent_ = true;
    tray->UseFallback(false);
    tray->Register();
}

void GtkTray::OnWatcherVanished(GDBusConnection*, const gchar*, gpointer self) {
    auto* tray = static_cast<GtkTray*>(self);
    tray->watcherPresent_ = false;
    if (tray->shown_) tray->UseFallback(true);
}

void GtkTray::OnFallbackActivate(GtkStatusIcon*, gpointer self) {
    auto* tray = static_cast<GtkTray*>(self);
    if (tray->tap_) {
        auto tap = tray->tap_;
        tap();
    }
}

}  // namespace lumivo

G_GNUC_END_IGNORE_DEPRECATIONS
