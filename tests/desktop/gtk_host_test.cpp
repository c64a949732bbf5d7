// The desktop host in-process on a display (run under xvfb-run): the
// dialogs at the real font's metrics, and the platform behaviour the dialogs
// rely on. What a person does with it is desktop_test.py's.

#include <gmock/gmock.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_files.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "fakes/fake_system.h"
#include "platform/gtk/ui_gtk.h"
#include "resources/resource.h"
#include "ui/main_dialog.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;

// Runs the toolkit's loop for a while: a shown window is laid out on the
// frame clock's next ticks.
void Settle() {
    const gint64 until = g_get_monotonic_time() + 300 * 1000;
    while (g_get_monotonic_time() < until) {
        if (gtk_events_pending()) {
            gtk_main_iteration_do(FALSE);
        } else {
            g_usleep(5000);
        }
    }
}

GdkRectangle Box(GtkWidget* widget) {
    GdkRectangle box;
    gtk_widget_get_allocation(widget, &box);
    gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &box.x, &box.y);
    return box;
}

bool Inside(const GdkRectangle& inner, const GdkRectangle& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

class GtkHostTest : public ::testing::Test {
  protected:
    GtkHostTest() {
        agent.ports = Ports{&system, &files, &internet, &ras, &ipHelper, &ui};
        agent.settings.id = 4711;
        agent.settings.password = "s3cret-Pw";
        agent.settings.connectionsPassword = "conn&pw";
        dialog = std::make_unique<CMainDialog>(agent, productName);
        agent.mainDialog = dialog.get();
        created = dialog->Create();
        main = dialog->GetSafeHwnd();
        tab = ui.GetDlgItem(main, IDC_TABS);
        dialog->ShowGui();
        Settle();
    }
    WindowHandle Item(int templateId, int id) { return ui.GetDlgItem(ui.FindDialog(templateId), id); }
    std::vector<bool> PagesVisible() {
        return {ui.IsWindowVisible(ui.FindDialog(IDD_GENERAL)),
                ui.IsWindowVisible(ui.FindDialog(IDD_OPTIONS)),
                ui.IsWindowVisible(ui.FindDialog(IDD_ABOUT))};
    }

    test::ConsoleCapture console;
    FakeSystem system;
    FakeFiles files;
    FakeInternet internet;
    FakeRas ras;
    FakeIpHelper ipHelper;
    GtkUi ui{nullptr};
    Agent agent;
    std::unique_ptr<CMainDialog> dialog;
    bool created = false;
    WindowHandle main = nullptr;
    WindowHandle tab = nullptr;
};

// Dialog units from the font's real metrics: every page inside the tab
// control, every control inside its page, every text inside its control.
TEST_F(GtkHostTest, EveryControlAndTextFitsItsPlace) {
    ASSERT_TRUE(created) << ui.ScriptError();
    const GdkRectangle tabBox = Box(ui.WidgetOf(tab));
    const int pages[] = {IDD_GENERAL, IDD_OPTIONS, IDD_ABOUT};
    for (int index = 0; index < 3; ++index) {
        dialog->SelectPage(index);
        Settle();
        GtkWidget* page = ui.WidgetOf(ui.FindDialog(pages[index]));
        const GdkRectangle pageBox = Box(page);
        EXPECT_TRUE(Inside(pageBox, tabBox))
            << "page " << pages[index] << " at " << pageBox.x << "," << pageBox.y << " "
            << pageBox.width << "x" << pageBox.height << " in " << tabBox.x << "," << tabBox.y
            << " " << tabBox.width << "x" << tabBox.height;
        GList* children = gtk_container_get_children(GTK_CONTAINER(page));
        for (GList* child = children; child != nullptr; child = child->next) {
            GtkWidget* control = GTK_WIDGET(child->data);
            const GdkRectangle box = Box(control);
            EXPECT_TRUE(Inside(box, pageBox))
                << "page " << pages[index] << ": a " << G_OBJECT_TYPE_NAME(control) << " at "
                << box.x << "," << box.y << " " << box.width << "x" << box.height;
            if (!GTK_IS_LABEL(control)) continue;
            int width = 0, height = 0;
            pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(control)), &width, &height);
            EXPECT_LE(height, box.height) << gtk_label_get_text(GTK_LABEL(control));
            EXPECT_LE(width, box.width) << gtk_label_get_text(GTK_LABEL(control));
        }
        g_list_free(children);
    }
}

// Windows' rules: a program's own check or tab choice notifies nobody; a
// text set in an edit control does, as typing does; a page chosen on the
// tab row does.
TEST_F(GtkHostTest, NotificationsFollowTheWindowsControls) {
    ASSERT_TRUE(created);
    WindowHandle save = Item(IDD_OPTIONS, IDC_SAVE);
    ui.SendMessage(Item(IDD_OPTIONS, IDC_VPN_ENABLED), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_FALSE(ui.IsWindowEnabled(save));
    ui.SendMessage(tab, TCM_SETCURSEL, 2, 0);
    Settle();
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    EXPECT_EQ(ui.SendMessage(tab, TCM_GETCURSEL, 0, 0), 2);

    gtk_notebook_set_current_page(GTK_NOTEBOOK(ui.WidgetOf(tab)), 1);  // as a click does
    Settle();
    EXPECT_THAT(PagesVisible(), ElementsAre(false, true, false));
    ui.SetWindowText(Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"typed");
    EXPECT_TRUE(ui.IsWindowEnabled(save));

    // Disabled while it has the focus, Save hands it on to a control that can take keys.
    gtk_widget_grab_focus(ui.WidgetOf(save));
    ui.EnableWindow(save, false);
    GtkWidget* focus = gtk_window_get_focus(ui.ToplevelOf(main));
    ASSERT_NE(focus, nullptr);
    EXPECT_NE(focus, ui.WidgetOf(save));
    EXPECT_TRUE(gtk_widget_is_sensitive(focus) && gtk_widget_is_visible(focus));
}

// The texts of this host are UTF-8 both ways; bytes that are not UTF-8 show
// as Latin-1 and come back as its UTF-8.
TEST_F(GtkHostTest, TextsSurviveTheWayToAControlAndBack) {
    ASSERT_TRUE(created);
    WindowHandle edit = Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD);
    const std::string utf8 = "p\xC3\xA4ss \xE2\x82\xAC";
    ui.SetWindowText(edit, ui.AnsiToWide(utf8));
    EXPECT_EQ(ui.GetWindowText(edit), L"p\u00E4ss \u20AC");
    EXPECT_EQ(ui.WideToAnsi(ui.GetWindowText(edit)), utf8);
    ui.SetWindowText(edit, ui.AnsiToWide("raw\xFF"));
    EXPECT_EQ(ui.GetWindowText(edit), L"raw\u00FF");
    EXPECT_EQ(ui.GetWindowText(Item(IDD_GENERAL, IDC_PASSWORD)), L"s3cret-Pw");
}

}  // namespace
}  // namespace lumivo

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::printf("no display: skipped\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
