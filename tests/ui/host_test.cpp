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
#include "fakes/function_procedures.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "fakes/fake_system.h"
#include "platform/posix/ui_host.h"
#include "resources/resource.h"
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
        agent.ports = Ports{&system, &files, &internet, &ras, &ipHelper, &ui};
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
        tab = ui.GetDlgItem(main, IDC_TABS);
    }
    WindowHandle Page(int templateId) const { return ui.FindDialog(templateId); }
    WindowHandle Item(int templateId, int id) { return ui.GetDlgItem(Page(templateId), id); }
    std::wstring Text(int templateId, int id) { return ui.GetWindowText(Item(templateId, id)); }
    bool Enabled(int templateId, int id) { return ui.IsWindowEnabled(Item(templateId, id)); }
    bool Checked(int templateId, int id) {
        return ui.SendMessage(Item(templateId, id), BM_GETCHECK, 0, 0) == 1;
    }
    std::vector<bool> PagesVisible() {
        return {ui.IsWindowVisible(Page(IDD_GENERAL)), ui.IsWindowVisible(Page(IDD_OPTIONS)),
                ui.IsWindowVisible(Page(IDD_ABOUT))};
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
    FunctionWindowProcedure none;
    EXPECT_EQ(ui.CreateDialogParam(999, nullptr, none), nullptr);
}

TEST_F(HostTest, StartShowsNoWindowButTheTrayIcon) {
    Start();
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_EQ(ui.GetWindowText(main), L"Lumivo Runtime");
    EXPECT_EQ(ui.IconResourceOf(ui.WindowIcon(main, true)), IDI_NORMAL);
    EXPECT_EQ(ui.IconResourceOf(ui.WindowIcon(main, false)), IDI_NORMAL);
    auto icon = ui.CurrentTrayIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->iconResource, IDI_NORMAL);
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
    for (int templateId : {IDD_GENERAL, IDD_OPTIONS, IDD_ABOUT}) {
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
    ui.Type(Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"typed");
    ASSERT_TRUE(ui.PressOk(main));
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_FALSE(ui.IsWindowVisible(Page(IDD_OPTIONS)));  // hidden with its parent
    EXPECT_THAT(system.quitCodes, IsEmpty());
    EXPECT_TRUE(ui.CurrentTrayIcon().has_value());

    ui.ShowWindow(main, SW_SHOW);
    EXPECT_TRUE(ui.IsWindowVisible(Page(IDD_OPTIONS)));
    EXPECT_EQ(Text(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"typed");
    EXPECT_TRUE(Enabled(IDD_OPTIONS, IDC_SAVE));
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

// The keys as the dialog manager handles them: Tab through the page shown,
// the arrows on the tab control, Space and Enter on controls, Escape and
// Enter for the dialog.
TEST_F(HostTest, KeysMoveTheFocusAndReachTheDialogsCommands) {
    Start();
    dialog->ShowGui();
    EXPECT_EQ(ui.Focus(), Item(IDD_GENERAL, IDC_ID));
    ui.PressKey(VK_TAB);
    EXPECT_EQ(ui.Focus(), Item(IDD_GENERAL, IDC_PASSWORD));
    ui.PressKey(VK_TAB);  // "Disconnect all" is disabled: on to the tab row
    EXPECT_EQ(ui.Focus(), tab);
    ui.PressKey(VK_TAB);
    EXPECT_EQ(ui.Focus(), Item(IDD_GENERAL, IDC_ID));
    ui.PressKey(VK_TAB, true);
    EXPECT_EQ(ui.Focus(), tab);
    ui.PressKey(VK_TAB, true);
    EXPECT_EQ(ui.Focus(), Item(IDD_GENERAL, IDC_PASSWORD));

    // Ctrl+Tab and Ctrl+PageDown turn the pages round the row from anywhere;
    // with Shift, and Ctrl+PageUp, back.
    ui.PressKey(VK_TAB, false, true);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, true, false));
    ui.PressKey(VK_NEXT, false, true);
    ui.PressKey(VK_NEXT, false, true);
    EXPECT_THAT(PagesVisible(), ElementsAre(true, false, false));
    ui.PressKey(VK_TAB, true, true);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, true));
    ui.PressKey(VK_PRIOR, false, true);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, true, false));
    ui.PressKey(VK_NEXT);  // without Ctrl, nothing
    EXPECT_THAT(PagesVisible(), ElementsAre(false, true, false));

    ui.ClickTab(tab, 1);
    EXPECT_EQ(ui.Focus(), tab);
    ui.PressKey(VK_RIGHT);
    ui.PressKey(VK_RIGHT);  // no tab beyond the last
    EXPECT_THAT(PagesVisible(), ElementsAre(false, false, true));
    ui.PressKey(VK_LEFT);
    EXPECT_THAT(PagesVisible(), ElementsAre(false, true, false));

    ui.PressKey(VK_TAB);
    EXPECT_EQ(ui.Focus(), Item(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED));
    ui.PressKey(VK_SPACE);
    EXPECT_FALSE(Checked(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED));
    for (int i = 0; i < 3; ++i) ui.PressKey(VK_TAB);
    EXPECT_EQ(ui.Focus(), Item(IDD_OPTIONS, IDC_SAVE));
    ui.PressKey(VK_RETURN);  // presses the focused button, hides nothing
    EXPECT_FALSE(Enabled(IDD_OPTIONS, IDC_SAVE));
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_TRUE(ui.IsWindowVisible(main));
    // Disabled, "Save" handed the focus on rather than leaving the keys nowhere.
    EXPECT_EQ(ui.Focus(), tab);

    system.boxAnswers = {IDNO};
    ui.PressKey(VK_ESCAPE);
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, L"Are you sure you want to quit?");
    EXPECT_THAT(system.quitCodes, IsEmpty());
    ui.PressKey(VK_RETURN);
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_FALSE(ui.PressKey(VK_ESCAPE));  // a hidden dialog gets no keys
    EXPECT_EQ(system.boxes.size(), 1u);
}

// Brought back on the General tab, the dialog does not keep the focus in
// the page it hid, where typing would reach a field nobody sees.
TEST_F(HostTest, FocusNeverStaysInAHiddenPage) {
    Start();
    dialog->ShowGui();
    ui.ClickTab(tab, 1);
    ui.Type(Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"typed");
    ui.PressKey(VK_RETURN);
    dialog->ShowGui();
    EXPECT_TRUE(ui.IsWindowVisible(ui.Focus()));
    ui.PressKey(VK_TAB);
    EXPECT_EQ(ui.Focus(), Item(IDD_GENERAL, IDC_ID));
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
    EXPECT_EQ(Text(IDD_GENERAL, IDC_ID), L"-12");
    EXPECT_EQ(Text(IDD_GENERAL, IDC_PASSWORD), L"s3cret-Pw");
    EXPECT_EQ(Text(IDD_GENERAL, IDC_VPN_ADDRESS), L"DISCONNECTED");
    EXPECT_FALSE(Enabled(IDD_GENERAL, IDC_DISCONNECT_ALL));
    ui.TapTrayIcon();
    EXPECT_FALSE(ui.Click(Item(IDD_GENERAL, IDC_DISCONNECT_ALL)));  // a disabled button does not react
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(HostTest, OptionsOpenCleanAndAnyEditMakesThemDirty) {
    agent.settings.vpnEnabled = true;
    Start();
    EXPECT_EQ(Text(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"conn&pw");
    EXPECT_TRUE(Checked(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED));
    EXPECT_TRUE(Checked(IDD_OPTIONS, IDC_VPN_ENABLED));
    EXPECT_FALSE(Enabled(IDD_OPTIONS, IDC_SAVE));

    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ASSERT_TRUE(ui.Click(Item(IDD_OPTIONS, IDC_VPN_ENABLED)));
    ASSERT_TRUE(ui.Click(Item(IDD_OPTIONS, IDC_VPN_ENABLED)));
    EXPECT_TRUE(Checked(IDD_OPTIONS, IDC_VPN_ENABLED));  // back where it was,
    EXPECT_TRUE(Enabled(IDD_OPTIONS, IDC_SAVE));  // and still unsaved
    EXPECT_TRUE(agent.settings.vpnEnabled);

    ui.Click(Item(IDD_OPTIONS, IDC_SAVE));
    EXPECT_FALSE(Enabled(IDD_OPTIONS, IDC_SAVE));
    ui.Type(Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"conn&pw");  // the same text is an edit too
    EXPECT_TRUE(Enabled(IDD_OPTIONS, IDC_SAVE));
}

TEST_F(HostTest, SaveWritesTheFileAndTheNextTickStopsPolling) {
    Start();
    internet.Script(200, R"({"data":[]})");
    OnConnectionTimer(agent);
    EXPECT_THAT(Requests(), ElementsAre("POST connections/check-requests"));

    ui.TapTrayIcon();
    ui.ClickTab(tab, 1);
    ui.Click(Item(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED));
    ui.Type(Item(IDD_OPTIONS, IDC_CONNECTIONS_PASSWORD), L"new=pw");
    EXPECT_TRUE(agent.settings.connectionsEnabled);  // nothing changes before "Save"
    ASSERT_TRUE(ui.Click(Item(IDD_OPTIONS, IDC_SAVE)));
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "new=pw");
    EXPECT_FALSE(Enabled(IDD_OPTIONS, IDC_SAVE));

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
    ui.Click(Item(IDD_OPTIONS, IDC_VPN_ENABLED));
    ui.Click(Item(IDD_OPTIONS, IDC_SAVE));
    EXPECT_EQ(agent.settings.connectionsPassword, "caf\xe9\x80!");
}

TEST_F(HostTest, DisconnectAllHangsUpAndShowsTheDisconnectedLook) {
    Start();
    VpnUp();
    EXPECT_EQ(Text(IDD_GENERAL, IDC_VPN_ADDRESS), L"10.8.0.6");
    EXPECT_TRUE(Enabled(IDD_GENERAL, IDC_DISCONNECT_ALL));
    EXPECT_EQ(TrayImage(), IDI_VPN);

    ui.TapTrayIcon();
    ASSERT_TRUE(ui.Click(Item(IDD_GENERAL, IDC_DISCONNECT_ALL)));
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_EQ(ras.hungUp.size(), 1u);
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_EQ(Text(IDD_GENERAL, IDC_VPN_ADDRESS), L"DISCONNECTED");
    EXPECT_FALSE(Enabled(IDD_GENERAL, IDC_DISCONNECT_ALL));
    EXPECT_EQ(TrayImage(), IDI_NORMAL);
}

TEST_F(HostTest, FailedHangUpKeepsTheConnectedLook) {
    Start();
    VpnUp();
    ras.hangUpResult = 668;
    ui.TapTrayIcon();
    ASSERT_TRUE(ui.Click(Item(IDD_GENERAL, IDC_DISCONNECT_ALL)));
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_EQ(Text(IDD_GENERAL, IDC_VPN_ADDRESS), L"10.8.0.6");
    EXPECT_TRUE(Enabled(IDD_GENERAL, IDC_DISCONNECT_ALL));
    EXPECT_EQ(TrayImage(), IDI_VPN);
    EXPECT_THAT(console.Lines(), testing::Contains("Error 668 stopping VPN"));
}

TEST_F(HostTest, VpnResetByTheTimerWorkReachesTrayAndPageWhileHidden) {
    Start();
    VpnUp();
    internet.Script(200, R"({"data":[]})");
    OnConnectionTimer(agent);  // no "vpn-created" listed: the VPN goes
    EXPECT_FALSE(ui.IsWindowVisible(main));
    EXPECT_EQ(TrayImage(), IDI_NORMAL);
    EXPECT_EQ(Text(IDD_GENERAL, IDC_VPN_ADDRESS), L"DISCONNECTED");
}

TEST_F(HostTest, NewTaskbarBringsBackTheVpnImageButNothingAfterQuit) {
    Start();
    VpnUp();
    ui.RestartTaskbar(agent.taskbarCreatedMessage);
    auto icon = ui.CurrentTrayIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->iconResource, IDI_VPN);
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
    EXPECT_EQ(Text(IDD_ABOUT, IDC_PRODUCT_NAME), L"Lumivo Runtime");
    EXPECT_EQ(Text(IDD_ABOUT, IDC_VERSION), L"1.1.1");
    EXPECT_EQ(Text(IDD_ABOUT, IDC_COPYRIGHT),
              std::wstring(copyrightLine, copyrightLine + std::strlen(copyrightLine)));
}

TEST_F(HostTest, HiddenControlsCannotBeUsed) {
    Start();
    EXPECT_FALSE(ui.Click(Item(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED)));  // dialog hidden
    ui.TapTrayIcon();
    EXPECT_FALSE(ui.Click(Item(IDD_OPTIONS, IDC_CONNECTIONS_ENABLED)));       // page hidden
    EXPECT_FALSE(ui.Type(Item(IDD_GENERAL, IDC_ID), L"1"));  // read-only
    EXPECT_FALSE(ui.Click(Item(IDD_GENERAL, IDC_CREDENTIALS_GROUP)));       // a group box
    EXPECT_FALSE(ui.PressOk(Page(IDD_OPTIONS)));
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
        ui.ClickTab(ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_TABS), 2);
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
