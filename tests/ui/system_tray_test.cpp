// The tray icon's states and the records it gives the shell.

#include "resources/resource.h"
#include "ui/system_tray.h"

#include <gmock/gmock.h>

#include <string>

#include "fakes/fake_ui.h"

namespace lumivo {
namespace {

using ::testing::IsEmpty;

std::wstring Tip(const NotifyIconData& data) {
    std::wstring tip;
    for (int i = 0; i < notifyTipUnits && data.szTip[i] != 0; ++i) tip += data.szTip[i];
    return tip;
}

// A zero-terminated UTF-16 tip as text.
std::u16string Units(const uint16* tip) {
    std::u16string units;
    for (int i = 0; i < notifyTipUnits && tip[i] != 0; ++i) units += static_cast<char16_t>(tip[i]);
    return units;
}

class SystemTrayTest : public ::testing::Test {
  protected:
    SystemTrayTest() {
        agent.ports.ui = &ui;
        agent.taskbarCreatedMessage = 0xC001;
    }

    bool Add() { return tray.AddTrayIcon(owner, 32778, L"Lumivo Runtime", FakeUi::Icon(IDI_NORMAL), 0); }
    // What the shell was asked last.
    const FakeUi::ShellCall& Last() const { return ui.shellCalls.back(); }
    // The shell's broadcast, as the tray's hidden window receives it.
    std::intptr_t TaskbarCreated() {
        bool handled = false;
        std::intptr_t result =
            ui.Deliver(tray.GetSafeHwnd(), agent.taskbarCreatedMessage, 0, 0, &handled);
        EXPECT_TRUE(handled);
        return result;
    }

    FakeUi ui;
    Agent agent;
    WindowHandle owner = reinterpret_cast<WindowHandle>(0x802);
    CSystemTray tray{agent};
};

TEST_F(SystemTrayTest, BeforeTheAddNothingReachesTheShell) {
    EXPECT_FALSE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN)));
    EXPECT_TRUE(tray.RemoveTrayIcon());
    EXPECT_THAT(ui.shellCalls, IsEmpty());
    EXPECT_THAT(ui.calls, IsEmpty());  // no window either
}

TEST_F(SystemTrayTest, AddGivesTheShellTheWholeRecord) {
    EXPECT_TRUE(Add());
    ASSERT_EQ(ui.shellCalls.size(), 1u);
    const NotifyIconData& data = Last().data;
    EXPECT_EQ(Last().operation, NIM_ADD);
    EXPECT_EQ(data.cbSize, 152u);
    EXPECT_EQ(data.hWnd, owner);
    EXPECT_EQ(data.uID, 0u);
    EXPECT_EQ(data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(data.uCallbackMessage, 32778u);
    EXPECT_EQ(data.hIcon, FakeUi::Icon(IDI_NORMAL));
    EXPECT_EQ(Tip(data), L"Lumivo Runtime");
    EXPECT_FALSE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());
    // The hidden window exists for the shell's broadcast.
    ASSERT_NE(tray.GetSafeHwnd(), nullptr);
    EXPECT_EQ(ui.Get(tray.GetSafeHwnd())->parent, nullptr);
}

TEST_F(SystemTrayTest, WithoutAnOwnerTheHiddenWindowGetsTheCallbacks) {
    EXPECT_TRUE(tray.AddTrayIcon(nullptr, 32778, L"tip", FakeUi::Icon(IDI_NORMAL), 3));
    EXPECT_EQ(Last().data.hWnd, tray.GetSafeHwnd());
    EXPECT_EQ(Last().data.uID, 3u);
}

TEST_F(SystemTrayTest, LongTooltipsKeepTheirFirst63Characters) {
    const std::wstring seventy(70, L'x');
    tray.AddTrayIcon(owner, 32778, seventy, FakeUi::Icon(IDI_NORMAL), 0);
    EXPECT_EQ(Tip(Last().data), seventy.substr(0, 63));
    EXPECT_EQ(Last().data.szTip[63], u'\0');

    uint16 tip[notifyTipUnits];
    CopyTrayTip(std::wstring(63, L'y'), tip);
    EXPECT_EQ(Units(tip), std::u16string(63, u'y'));
}

TEST_F(SystemTrayTest, TooltipCutNeverSplitsACharacter) {
    if (sizeof(wchar_t) != 4) GTEST_SKIP() << "wide text is UTF-16 already";
    // 62 characters, then one that takes two UTF-16 units: it does not fit.
    std::wstring text(62, L'a');
    text += static_cast<wchar_t>(0x1F512);
    uint16 tip[notifyTipUnits];
    CopyTrayTip(text, tip);
    EXPECT_EQ(Units(tip), std::u16string(62, u'a'));

    // 61 and the pair fit in 63 units.
    text.erase(0, 1);
    CopyTrayTip(text, tip);
    EXPECT_EQ(Units(tip).size(), 63u);
    EXPECT_EQ(tip[61], 0xD83D);
    EXPECT_EQ(tip[62], 0xDD12);
}

TEST_F(SystemTrayTest, ShownIconChangesItsImageInTheShell) {
    Add();
    EXPECT_TRUE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN)));
    EXPECT_EQ(Last().operation, NIM_MODIFY);
    EXPECT_EQ(Last().data.uFlags, NIF_ICON);
    EXPECT_EQ(Last().data.hIcon, FakeUi::Icon(IDI_VPN));

    ui.shellAnswers = {false};
    EXPECT_FALSE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_NORMAL)));
    EXPECT_EQ(tray.Data().hIcon, FakeUi::Icon(IDI_NORMAL));  // kept for a re-add
}

TEST_F(SystemTrayTest, RemoveDeletesOnceAndThenHasNothingToDo) {
    Add();
    EXPECT_TRUE(tray.RemoveTrayIcon());
    EXPECT_EQ(Last().operation, NIM_DELETE);
    EXPECT_EQ(Last().data.uFlags, 0u);
    EXPECT_TRUE(tray.IsHidden());
    EXPECT_TRUE(tray.IsRemoved());

    EXPECT_TRUE(tray.RemoveTrayIcon());
    EXPECT_EQ(ui.shellCalls.size(), 2u);
    // Removed: images are only stored, and a new taskbar brings nothing back.
    EXPECT_TRUE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN)));
    EXPECT_EQ(TaskbarCreated(), 0);
    EXPECT_EQ(ui.shellCalls.size(), 2u);
}

TEST_F(SystemTrayTest, RefusedDeleteLeavesTheIconShown) {
    Add();
    ui.shellAnswers = {false};
    EXPECT_FALSE(tray.RemoveTrayIcon());
    EXPECT_FALSE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());
    EXPECT_TRUE(tray.RemoveTrayIcon());  // asked again, and accepted
    EXPECT_EQ(ui.shellCalls.size(), 3u);
}

TEST_F(SystemTrayTest, RefusedAddLeavesTheAgentWithoutAnIcon) {
    ui.shellAnswers = {false};
    EXPECT_FALSE(Add());
    EXPECT_TRUE(tray.IsCreated());
    EXPECT_TRUE(tray.IsHidden());
    EXPECT_TRUE(tray.IsRemoved());

    EXPECT_TRUE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN)));  // stored silently
    EXPECT_EQ(TaskbarCreated(), 0);                       // no retry
    EXPECT_TRUE(tray.RemoveTrayIcon());
    EXPECT_EQ(ui.shellCalls.size(), 1u);
}

TEST_F(SystemTrayTest, NewTaskbarGetsTheLatestImageWithTheTooltip) {
    Add();
    tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN));
    EXPECT_EQ(TaskbarCreated(), 0);
    EXPECT_EQ(Last().operation, NIM_ADD);
    EXPECT_EQ(Last().data.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    EXPECT_EQ(Last().data.hIcon, FakeUi::Icon(IDI_VPN));
    EXPECT_EQ(Tip(Last().data), L"Lumivo Runtime");
    EXPECT_FALSE(tray.IsHidden());
}

TEST_F(SystemTrayTest, FailedReAddIsLostButStillAsksToDelete) {
    Add();
    ui.shellAnswers = {false};
    TaskbarCreated();
    EXPECT_TRUE(tray.IsHidden());
    EXPECT_FALSE(tray.IsRemoved());

    const std::size_t before = ui.shellCalls.size();
    EXPECT_TRUE(tray.ChangeTrayIcon(FakeUi::Icon(IDI_VPN)));  // Lost: only stored
    TaskbarCreated();                                     // and not retried
    EXPECT_EQ(ui.shellCalls.size(), before);

    ui.shellAnswers = {false};  // the shell knows no such icon
    EXPECT_FALSE(tray.RemoveTrayIcon());
    EXPECT_EQ(Last().operation, NIM_DELETE);
}

TEST_F(SystemTrayTest, OtherMessagesOfTheHiddenWindowAreLeftToThePlatform) {
    Add();
    bool handled = true;
    ui.Deliver(tray.GetSafeHwnd(), 0x0010, 0, 0, &handled);
    EXPECT_FALSE(handled);
}

TEST(SystemTrayLifetime, DestructionRemovesTheIconAndItsWindow) {
    FakeUi ui;
    Agent agent;
    agent.ports.ui = &ui;
    {
        CSystemTray tray(agent);
        tray.AddTrayIcon(nullptr, 32778, L"tip", FakeUi::Icon(IDI_NORMAL), 0);
    }
    EXPECT_EQ(ui.shellCalls.back().operation, NIM_DELETE);
    EXPECT_THAT(ui.windows, IsEmpty());
}

}  // namespace
}  // namespace lumivo
