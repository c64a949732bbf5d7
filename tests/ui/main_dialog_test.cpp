// The main dialog's initialisation, message map and ShowGui steps, as the
// platform sees them through a fake UI port.

#include "resources/resource.h"
#include "ui/main_dialog.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_system.h"
#include "fakes/fake_ui.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MainDialogTest : public ::testing::Test {
  protected:
    MainDialogTest() {
        agent.ports.ui = &ui;
        agent.ports.system = &system;
        dialog.Create();
        self = dialog.GetSafeHwnd();
        tab = ui.GetDlgItem(self, IDC_TABS);
    }

    std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                       bool* handled = nullptr) {
        return ui.Deliver(self, message, wParam, lParam, handled);
    }
    bool Command(unsigned id, unsigned code = BN_CLICKED) {
        bool handled = false;
        Send(WM_COMMAND, MakeWParam(id, code), 0, &handled);
        return handled;
    }
    bool Notify(std::uintptr_t from, unsigned code) {
        NotifyHeader header;
        header.idFrom = from;
        header.code = code;
        bool handled = false;
        Send(WM_NOTIFY, from, reinterpret_cast<std::intptr_t>(&header), &handled);
        return handled;
    }
    // The page windows, children of the tab control, in the order made.
    std::vector<FakeUi::Window*> Pages() {
        std::vector<FakeUi::Window*> pages;
        for (int templateId : {IDD_GENERAL, IDD_OPTIONS, IDD_ABOUT}) {
            for (auto& window : ui.windows) {
                if (window.second->templateId == templateId) pages.push_back(window.second.get());
            }
        }
        return pages;
    }
    std::vector<bool> PagesVisible() {
        std::vector<bool> visible;
        for (FakeUi::Window* page : Pages()) visible.push_back(page->visible);
        return visible;
    }

    test::ConsoleCapture console;
    FakeUi ui;
    FakeSystem system;
    Agent agent;
    CMainDialog dialog{agent, productName};
    WindowHandle self = nullptr;
    WindowHandle tab = nullptr;
};

TEST_F(MainDialogTest, InitialisationBuildsTitleTrayAndThreePages) {
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(ui.Get(self)->templateId, IDD_MAIN);
    EXPECT_EQ(ui.Get(self)->parent, nullptr);
    EXPECT_EQ(ui.Get(self)->text, L"Lumivo Runtime");
    EXPECT_FALSE(ui.Get(self)->visible);

    ASSERT_EQ(ui.shellCalls.size(), 1u);
    EXPECT_EQ(ui.shellCalls[0].operation, NIM_ADD);
    EXPECT_EQ(ui.shellCalls[0].data.hWnd, self);
    EXPECT_EQ(ui.shellCalls[0].data.uCallbackMessage, WM_TRAYNOTIFY);
    EXPECT_EQ(ui.shellCalls[0].data.hIcon, FakeUi::Icon(IDI_NORMAL));

    EXPECT_THAT(ui.Get(tab)->tabs, ElementsAre(L"General", L"Options", L"About"));
    ASSERT_EQ(Pages().size(), 3u);
    for (FakeUi::Window* page : Pages()) {
        EXPECT_EQ(page->parent, tab);
        EXPECT_EQ(page->rect.left, 2);  // the first tab's left edge
        EXPECT_EQ(page->rect.top, 23);  // one below its bottom
    }
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
}

TEST_F(MainDialogTest, NoWindowMeansCreateFails) {
    FakeUi failing;
    failing.failDialogs = true;
    Agent other;
    other.ports.ui = &failing;
    other.ports.system = &system;
    CMainDialog broken(other, productName);
    EXPECT_FALSE(broken.Create());
    EXPECT_THAT(failing.shellCalls, IsEmpty());
}

TEST_F(MainDialogTest, ShowGuiRunsItsSevenStepsEveryTime) {
    for (int round = 0; round < 2; ++round) {
        ui.calls.clear();
        dialog.ShowGui();
        std::vector<std::string> expected = {
            "SetWindowPos",     "SetWindowPos",        "ShowWindow(show)",
            "ShowWindow(hide)", "ShowWindow(hide)",    "TCM_SETCURSEL",
            "ShowWindow(show)", "SetForegroundWindow", "SetWindowPos(topmost)"};
        if (round == 1) expected.erase(expected.begin() + 6);  // visible already
        EXPECT_EQ(ui.calls, expected) << "round " << round;
        const Rect& r = ui.Get(self)->rect;
        EXPECT_EQ(r.right - r.left, 480);
        EXPECT_EQ(r.bottom - r.top, 272);
        EXPECT_EQ(r.left, 160);
        EXPECT_EQ(r.top, 104);
        EXPECT_EQ(ui.Get(tab)->selectedTab, 0);
    }
}

TEST_F(MainDialogTest, CommandsMatchTheirIdAndCode) {
    dialog.ShowGui();
    EXPECT_FALSE(Command(IDOK, EN_CHANGE));
    EXPECT_TRUE(ui.Get(self)->visible);
    EXPECT_TRUE(Command(IDOK));
    EXPECT_FALSE(ui.Get(self)->visible);
    EXPECT_FALSE(Command(4711));
    EXPECT_THAT(system.quitCodes, IsEmpty());
}

TEST_F(MainDialogTest, QuitAsksFirstAndTheExitCommandDoesNot) {
    system.boxAnswers = {IDNO, IDYES};
    EXPECT_TRUE(Command(IDCANCEL));
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].owner, self);
    EXPECT_EQ(system.boxes[0].text, L"Are you sure you want to quit?");
    EXPECT_EQ(system.boxes[0].caption, L"Lumivo Runtime");
    EXPECT_EQ(system.boxes[0].type, MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_THAT(system.quitCodes, IsEmpty());
    EXPECT_EQ(ui.shellCalls.size(), 1u);

    Command(IDCANCEL);
    EXPECT_THAT(system.quitCodes, ElementsAre(0));
    EXPECT_EQ(ui.shellCalls.back().operation, NIM_DELETE);
    EXPECT_NE(ui.Get(self), nullptr);  // neither hidden nor destroyed

    FakeSystem quiet;
    agent.ports.system = &quiet;
    EXPECT_TRUE(Command(ID_APP_EXIT));
    EXPECT_THAT(quiet.boxes, IsEmpty());
    EXPECT_THAT(quiet.quitCodes, ElementsAre(0));
}

TEST_F(MainDialogTest, OnlyAReleaseOfTheLeftButtonShowsTheDialog) {
    ui.calls.clear();
    EXPECT_EQ(Send(WM_TRAYNOTIFY, 0, WM_LBUTTONDOWN), 0);
    EXPECT_EQ(Send(WM_TRAYNOTIFY, 0, WM_LBUTTONDBLCLK), 0);
    EXPECT_THAT(ui.calls, IsEmpty());
    EXPECT_EQ(Send(WM_TRAYNOTIFY, 0, WM_LBUTTONUP), 1);
    EXPECT_TRUE(ui.Get(self)->visible);
    // Only the low word of the long parameter counts.
    ui.Get(self)->visible = false;
    EXPECT_EQ(Send(WM_TRAYNOTIFY, 0, 0x7FFF0000 | WM_LBUTTONUP), 1);
    EXPECT_TRUE(ui.Get(self)->visible);

    ui.Get(self)->visible = false;
    EXPECT_EQ(Send(WM_SHOWGUI, 0, 0), 1);
    EXPECT_TRUE(ui.Get(self)->visible);
}

TEST_F(MainDialogTest, TabChangeFromTheTabControlSelectsThePage) {
    ui.Get(tab)->selectedTab = 2;
    EXPECT_TRUE(Notify(IDC_TABS, TCN_SELCHANGE));
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, true));
    ui.Get(tab)->selectedTab = 1;
    EXPECT_FALSE(Notify(1024, TCN_SELCHANGE));
    EXPECT_FALSE(Notify(IDC_TABS, static_cast<unsigned>(-552)));
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, true));

    dialog.SelectPage(3);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, false));
    dialog.SelectPage(-1);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, false));
}

TEST_F(MainDialogTest, VpnIconIsLoadedAnewForEveryChange) {
    ui.calls.clear();
    EXPECT_TRUE(dialog.SetVpnIcon(true));
    EXPECT_TRUE(dialog.SetVpnIcon(true));
    EXPECT_THAT(ui.calls, ElementsAre("LoadIcon(143)", "LoadIcon(143)"));
    EXPECT_EQ(ui.shellCalls.back().data.hIcon, FakeUi::Icon(IDI_VPN));

    ui.shellAnswers = {false};
    EXPECT_FALSE(dialog.SetVpnIcon(false));

    EXPECT_EQ(Send(WM_VPNDISCONNECTED, 0, 0), 1);
    EXPECT_EQ(ui.shellCalls.back().operation, NIM_MODIFY);
    EXPECT_EQ(ui.shellCalls.back().data.hIcon, FakeUi::Icon(IDI_NORMAL));
}

TEST_F(MainDialogTest, VpnIconChangeWithoutATrayIconStillSucceeds) {
    Command(ID_APP_EXIT);  // the icon is gone
    const std::size_t before = ui.shellCalls.size();
    EXPECT_TRUE(dialog.SetVpnIcon(true));
    EXPECT_EQ(ui.shellCalls.size(), before);
}

}  // namespace
}  // namespace lumivo
