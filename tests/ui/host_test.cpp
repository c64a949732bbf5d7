// What a user of the agent meets, through the headless host: the dialog, its
// tabs and pages, the tray icon, quitting, "Save" and "Disconnect all".

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/constants.h"
#include "connections/polling.h"
#include "fakes/console_capture.h"
#include "fakes/fake_files.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "fakes/fake_system.h"
#include "platform/posix/ui_host.h"
#include "ui/main_dialog.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class HostTest : public ::testing::Test {
  protected:
    HostTest() {
        agent.ports.system = &system;
        agent.ports.files = &files;
        agent.ports.internet = &internet;
        agent.ports.ras = &ras;
        agent.ports.ipHelper = &ipHelper;
        agent.ports.ui = &ui;
        agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");
        agent.settings.id = 4711;
        agent.settings.password = "s3cret-Pw";
        agent.settings.connectionsEnabled = true;
        agent.settings.connectionsPassword = "conn&pw";
        agent.settings.vpnEnabled = false;
    }

    // Start-up's part: the hidden dialog, kept in the agent.
    void Start() {
        dialog = std::make_unique<CMainDialog>(agent, productName);
        agent.mainDialog = dialog.get();
        ASSERT_TRUE(dialog->Create());
        main = dialog->GetSafeHwnd();
        tab = ui.GetDlgItem(main, 1023);
    }
    WindowHandle Page(int templateId) const { return ui.FindDialog(templateId); }
    WindowHandle Item(int templateId, int id) { return ui.GetDlgItem(Page(templateId), id); }
    std::wstring Text(int templateId, int id) { return ui.GetWindowText(Item(templateId, id)); }
    bool Enabled(int templateId, int id) { return ui.IsWindowEnabled(Item(templateId, id)); }
    bool Checked(int templateId, int id) {
        return ui.SendMessage(Item(templateId, id), BM_GETCHECK, 0, 0) == 1;
    }
    std::vector<bool> PagesVisible() {
        return {ui.IsWindowVisible(Page(156)), ui.IsWindowVisible(Page(804)),
                ui.IsWindowVisible(Page(805))};
    }
    Rect WindowRect(WindowHandle window) {
        Rect rect;
        ui.GetWindowRect(window, rect);
        return rect;
    }
    int TrayImage() {
        auto icon = ui.CurrentTrayIcon();
        return icon ? icon->iconResource : 0;
    }
    std::vector<std::string> Requests() const { return internet.Requests(); }
    // A VPN that came up on a poll, as the timer work shows it.
    void VpnUp(const std::string& address = "10.8.0.6") {
        ras.AddConnection(L"L2TP Line 0");
        agent.vpnConnected = true;
        agent.vpnIpAddress = address;
        dialog->ShowVpnAddress(address);
        dialog->SetVpnIcon(true);
    }

    test::ConsoleCapture console;
    FakeSystem system;
    FakeFiles files;
    FakeInternet internet;
    FakeRas ras;
    FakeIpHelper ipHelper;
    PosixUi ui{nullptr};
    Agent agent;
    std::unique_ptr<CMainDialog> dialog;
    WindowHandle main = nullptr;
    WindowHandle tab = nullptr;
};

TEST_F(HostTest, TemplatesComeFromTheBuiltInScript) {
    EXPECT_TRUE(ui.ScriptLoaded()) << ui.ScriptError();
    EXPECT_EQ(ui.CreateDialogParam(999, nullptr, nullptr), nullptr);
}

TEST_F(HostTest, StartShowsNoWindowButTheTrayIcon) {
    Start();
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_EQ(ui.GetWindowText(main), L"Lumivo Runtime");
    EXPECT_EQ(ui.IconResourceOf(ui.WindowIcon(main, true)), 142);
    EXPECT_EQ(ui.IconResourceOf(ui.WindowIcon(main, false)), 142);
    auto icon = ui.CurrentTrayIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->iconResource, 142);
    EXPECT_EQ(icon->tip, L"Lumivo Runtime");
    EXPECT_EQ(icon->window, main);
    EXPECT_EQ(icon->callbackMessage, WM_TRAYNOTIFY);
}

TEST_F(HostTest, ThreeTabsInOrderWithThePagesUnderTheTabRow) {
    Start();
    EXPECT_THAT(ui.TabTexts(tab), ElementsAre(L"General", L"Options", L"About"));
    Rect first;
    ASSERT_EQ(ui.SendMessage(tab, TCM_GETITEMRECT, 0, reinterpret_cast<std::intptr_t>(&first)), 1);
    const Rect tabRect = WindowRect(tab);
    for (int templateId : {156, 804, 805}) {
        const Rect page = WindowRect(Page(templateId));
        EXPECT_EQ(ui.GetParent(Page(templateId)), tab);
        EXPECT_EQ(page.left - tabRect.left, first.left) << templateId;
        EXPECT_EQ(page.top - tabRect.top, first.bottom + 1) << templateId;
        EXPECT_EQ(page.right - page.left, 420) << templateId;  // its own size stays
        EXPECT_LE(page.bottom, tabRect.bottom) << templateId;
    }
    ui.ShowWindow(main, SW_SHOW);
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    for (int index : {2, 1, 0}) {
        ASSERT_TRUE(ui.ClickTab(tab, index));
        std::vector<bool> expected(3, false);
        expected[static_cast<std::size_t>(index)] = true;
        EXPECT_EQ(PagesVisible(), expected) << index;
    }
}

TEST_F(HostTest, TapOnTheTrayIconShowsTheDialogOnTheGeneralTab) {
    Start();
    ASSERT_TRUE(ui.TapTrayIcon());
    EXPECT_TRUE(ui.IsWindowVisible(main));
    const Rect rect = WindowRect(main);
    EXPECT_EQ(rect.right - rect.left, 480);
    EXPECT_EQ(rect.bottom - rect.top, 272);
    EXPECT_EQ(rect.left, (PosixUi::screenWidth - 480) / 2);
    EXPECT_EQ(rect.top, (PosixUi::screenHeight - 272) / 2);
    EXPECT_EQ(ui.SendMessage(tab, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    EXPECT_EQ(ui.ForegroundWindow(), main);
    EXPECT_TRUE(ui.IsTopmost(main));
    EXPECT_THAT(ui.TrayAnswers(), ElementsAre(0, 1));  // down, up
}

TEST_F(HostTest, TapFromTheAboutTabReturnsToGeneralAndPlace) {
    Start();
    ui.TapTrayIcon();
    ASSERT_TRUE(ui.ClickTab(tab, 2));
    ui.SetWindowPos(main, nullptr, 5, 5, 300, 200, SWP_NOZORDER);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, true));

    ui.TapTrayIcon();
    EXPECT_EQ(ui.SendMessage(tab, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    const Rect rect = WindowRect(main);
    EXPECT_EQ(rect.left, 160);
    EXPECT_EQ(rect.right - rect.left, 480);
}

TEST_F(HostTest, DoubleTapDoesNothingMoreThanATap) {
    Start();
    ASSERT_TRUE(ui.DoubleTapTrayIcon());
    // down, up (shows), double-click (nothing), up (shows again: same place)
    EXPECT_THAT(ui.TrayAnswers(), ElementsAre(0, 1, 0, 1));
    EXPECT_TRUE(ui.IsWindowVisible(main));
    EXPECT_EQ(WindowRect(main).left, 160);
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    EXPECT_THAT(system.boxes, IsEmpty());
    EXPECT_THAT(system.quitCodes, IsEmpty());
}

TEST_F(HostTest, OkHidesAndTheHiddenDialogKeepsItsState) {
    Start();
    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ui.Type(Item(804, 1020), L"typed");
    ASSERT_TRUE(ui.PressOk(main));
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_FALSE(ui.IsWindowVisible(Page(804)));  // hidden with its parent
    EXPECT_THAT(system.quitCodes, IsEmpty());
    EXPECT_TRUE(ui.CurrentTrayIcon().has_value());

    ui.ShowWindow(main, SW_SHOW);
    EXPECT_TRUE(ui.IsWindowVisible(Page(804)));
    EXPECT_EQ(Text(804, 1020), L"typed");
    EXPECT_TRUE(Enabled(804, 1022));
}

TEST_F(HostTest, CloseBoxAsksAndOnlyYesQuits) {
    Start();
    ui.TapTrayIcon();
    system.boxAnswers = {IDNO};
    ASSERT_TRUE(ui.PressClose(main));
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, L"Are you sure you want to quit?");
    EXPECT_EQ(system.boxes[0].caption, L"Lumivo Runtime");
    EXPECT_THAT(system.quitCodes, IsEmpty());
    EXPECT_TRUE(ui.IsWindowVisible(main));
    EXPECT_TRUE(ui.CurrentTrayIcon().has_value());

    system.boxAnswers = {IDYES};
    ui.PressClose(main);
    EXPECT_THAT(system.quitCodes, ElementsAre(0));
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
    EXPECT_TRUE(ui.IsWindowVisible(main));  // left as it is until the process ends
}

TEST_F(HostTest, ExitCommandQuitsWithoutAQuestion) {
    Start();
    ui.SendMessage(main, WM_COMMAND, MakeWParam(ID_APP_EXIT, 0), 0);
    EXPECT_THAT(system.boxes, IsEmpty());
    EXPECT_THAT(system.quitCodes, ElementsAre(0));
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
}

TEST_F(HostTest, GeneralPageShowsTheCredentialsDisconnected) {
    agent.settings.id = -12;
    Start();
    EXPECT_EQ(Text(156, 1003), L"-12");
    EXPECT_EQ(Text(156, 1004), L"s3cret-Pw");
    EXPECT_EQ(Text(156, 1019), L"DISCONNECTED");
    EXPECT_FALSE(Enabled(156, 1018));
    ui.TapTrayIcon();
    EXPECT_FALSE(ui.Click(Item(156, 1018)));  // a disabled button does not react
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(HostTest, OptionsOpenCleanAndAnyEditMakesThemDirty) {
    agent.settings.vpnEnabled = true;
    Start();
    EXPECT_EQ(Text(804, 1020), L"conn&pw");
    EXPECT_TRUE(Checked(804, 1006));
    EXPECT_TRUE(Checked(804, 1008));
    EXPECT_FALSE(Enabled(804, 1022));

    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ASSERT_TRUE(ui.Click(Item(804, 1008)));
    ASSERT_TRUE(ui.Click(Item(804, 1008)));
    EXPECT_TRUE(Checked(804, 1008));  // back where it was,
    EXPECT_TRUE(Enabled(804, 1022));  // and still unsaved
    EXPECT_TRUE(agent.settings.vpnEnabled);

    ui.Click(Item(804, 1022));
    EXPECT_FALSE(Enabled(804, 1022));
    ui.Type(Item(804, 1020), L"conn&pw");  // the same text is an edit too
    EXPECT_TRUE(Enabled(804, 1022));
}

TEST_F(HostTest, SaveWritesTheFileAndTheNextTickStopsPolling) {
    Start();
    internet.Script(200, R"({"data":[]})");
    OnConnectionTimer(agent);
    EXPECT_THAT(Requests(), ElementsAre("POST connections/check-requests"));

    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ui.Click(Item(804, 1006));
    ui.Type(Item(804, 1020), L"new=pw");
    EXPECT_TRUE(agent.settings.connectionsEnabled);  // nothing changes before "Save"
    ASSERT_TRUE(ui.Click(Item(804, 1022)));
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "new=pw");
    EXPECT_FALSE(Enabled(804, 1022));

    const std::string saved = files.Content(settingsFilePath);
    EXPECT_THAT(saved, HasSubstr("\"connectionsEnabled\":\tfalse"));
    EXPECT_THAT(saved, HasSubstr("\"connectionsPassword\":\t\"new=pw\""));
    EXPECT_THAT(saved, HasSubstr("\"id\":\t4711"));
    EXPECT_THAT(saved, HasSubstr("\"password\":\t\"s3cret-Pw\""));

    OnConnectionTimer(agent);
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(HostTest, PasswordsWithAnyByteSurviveTheWayThroughTheField) {
    agent.settings.connectionsPassword = "caf\xe9\x80!";
    Start();
    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ui.Click(Item(804, 1008));
    ui.Click(Item(804, 1022));
    EXPECT_EQ(agent.settings.connectionsPassword, "caf\xe9\x80!");
}

TEST_F(HostTest, DisconnectAllHangsUpAndShowsTheDisconnectedLook) {
    Start();
    VpnUp();
    EXPECT_EQ(Text(156, 1019), L"10.8.0.6");
    EXPECT_TRUE(Enabled(156, 1018));
    EXPECT_EQ(TrayImage(), 143);

    ui.TapTrayIcon();
    ASSERT_TRUE(ui.Click(Item(156, 1018)));
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_EQ(ras.hungUp.size(), 1u);
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_EQ(Text(156, 1019), L"DISCONNECTED");
    EXPECT_FALSE(Enabled(156, 1018));
    EXPECT_EQ(TrayImage(), 142);
}

TEST_F(HostTest, FailedHangUpKeepsTheConnectedLook) {
    Start();
    VpnUp();
    ras.hangUpResult = 668;
    ui.TapTrayIcon();
    ASSERT_TRUE(ui.Click(Item(156, 1018)));
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_EQ(Text(156, 1019), L"10.8.0.6");
    EXPECT_TRUE(Enabled(156, 1018));
    EXPECT_EQ(TrayImage(), 143);
    EXPECT_THAT(console.Lines(), testing::Contains("Error 668 stopping VPN"));
}

TEST_F(HostTest, VpnResetByTheTimerWorkReachesTrayAndPageWhileHidden) {
    Start();
    VpnUp();
    internet.Script(200, R"({"data":[]})");
    OnConnectionTimer(agent);  // no "vpn-created" listed: the VPN goes
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_EQ(TrayImage(), 142);
    EXPECT_EQ(Text(156, 1019), L"DISCONNECTED");
}

TEST_F(HostTest, NewTaskbarBringsBackTheVpnImageButNothingAfterQuit) {
    Start();
    VpnUp();
    ui.RestartTaskbar(agent.taskbarCreatedMessage);
    auto icon = ui.CurrentTrayIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->iconResource, 143);
    EXPECT_EQ(icon->tip, L"Lumivo Runtime");

    system.boxAnswers = {IDYES};
    ui.TapTrayIcon();
    ui.PressClose(main);
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
    ui.RestartTaskbar(agent.taskbarCreatedMessage);
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
}

TEST_F(HostTest, RefusingShellLeavesOnlyShowGuiToBringTheDialogUp) {
    ui.SetShellRefuses(true);
    Start();
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
    EXPECT_FALSE(ui.TapTrayIcon());
    EXPECT_TRUE(dialog->SetVpnIcon(true));
    ui.SetShellRefuses(false);
    ui.RestartTaskbar(agent.taskbarCreatedMessage);  // a failed add is not retried
    EXPECT_FALSE(ui.CurrentTrayIcon().has_value());
    EXPECT_EQ(ui.SendMessage(main, WM_SHOWGUI, 0, 0), 1);
    EXPECT_TRUE(ui.IsWindowVisible(main));
}

TEST_F(HostTest, AboutPageShowsProductVersionAndCopyright) {
    Start();
    EXPECT_EQ(Text(805, 1022), L"Lumivo Runtime");
    EXPECT_EQ(Text(805, 1023), L"1.1.1");
    EXPECT_EQ(Text(805, 1024),
              std::wstring(copyrightLine, copyrightLine + std::strlen(copyrightLine)));
}

TEST_F(HostTest, HiddenControlsCannotBeUsed) {
    Start();
    EXPECT_FALSE(ui.Click(Item(804, 1006)));  // dialog hidden
    ui.TapTrayIcon();
    EXPECT_FALSE(ui.Click(Item(804, 1006)));       // page hidden
    EXPECT_FALSE(ui.Type(Item(156, 1003), L"1"));  // read-only
    EXPECT_FALSE(ui.Click(Item(156, 1010)));       // a group box
    EXPECT_FALSE(ui.PressOk(Page(804)));
}

TEST(HostTrace, VisibleChangesAreWrittenToTheTraceFile) {
    const std::string path = std::string(LUMIVO_TEST_TEMP) + "/ui-trace-test.txt";
    std::remove(path.c_str());
    setenv("LUMIVO_UI_TRACE", path.c_str(), 1);
    {
        test::ConsoleCapture console;
        FakeSystem system;
        PosixUi ui(nullptr);
        Agent agent;
        agent.ports.system = &system;
        agent.ports.ui = &ui;
        agent.settings.password = "pw-device";
        agent.settings.connectionsPassword = "pw-connections";
        CMainDialog dialog(agent, productName);
        ASSERT_TRUE(dialog.Create());
        ui.TapTrayIcon();
        ui.ClickTab(ui.GetDlgItem(dialog.GetSafeHwnd(), 1023), 2);
        dialog.SetVpnIcon(true);
        ui.PressOk(dialog.GetSafeHwnd());
        ui.SendMessage(dialog.GetSafeHwnd(), WM_COMMAND, ID_APP_EXIT, 0);
    }
    unsetenv("LUMIVO_UI_TRACE");
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_THAT(lines,
                ElementsAre("tray add icon 142 tip \"Lumivo Runtime\"",
                            "text 156/1019 \"DISCONNECTED\"", "button 156/1018 disabled",
                            "page 156 shown 420x164", "button 804/1022 disabled",
                            "text 805/1022 \"Lumivo Runtime\"", "text 805/1023 \"1.1.1\"",
                            "text 805/1024 \"" + std::string(copyrightLine) + "\"",
                            "dialog 802 shown 480x272", "tab 2 selected", "page 156 hidden 420x164",
                            "page 805 shown 420x164", "tray modify icon 143 tip \"Lumivo Runtime\"",
                            "dialog 802 hidden 480x272", "tray delete"));
    // The passwords in the edit controls stay out of it.
    for (const std::string& line : lines) EXPECT_THAT(line, Not(HasSubstr("pw-")));
}

}  // namespace
}  // namespace lumivo
