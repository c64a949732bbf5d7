// The window-system adapter under Wine: which messages reach a window's
// procedure (the ones Windows Embedded Compact sends as well: from WM_CREATE
// or WM_INITDIALOG to WM_DESTROY), the focus when the focused control of a
// tab page is disabled, and the tray icon's record.

#include <gtest/gtest.h>

#include <vector>

#include "platform/win32/system_win32.h"
#include "platform/win32/ui_win32.h"
#include "platform/win32/windows_api.h"
#include "resources/resource.h"

namespace lumivo {
namespace {

// Records every message; answers WM_APP with 42.
class RecordingProcedure : public WindowProcedure {
  public:
    bool HandleMessage(WindowHandle, unsigned message, uintptr, intptr, intptr& result) override {
        messages.push_back(message);
        if (message != WM_APP) return false;
        result = 42;
        return true;
    }
    std::vector<unsigned> messages;
};

TEST(Win32Ui, PlainWindowReachesItsProcedureFromCreateToDestroy) {
    Win32Ui ui;
    ui.RegisterClass(L"LumivoUiTestWindow");
    RecordingProcedure procedure;
    WindowHandle window =
        ui.CreateWindowEx(0, L"LumivoUiTestWindow", L"", WS_POPUP, 0, 0, 0, 0, NULL, procedure);
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(procedure.messages.empty());
    EXPECT_EQ(procedure.messages.front(), unsigned{WM_CREATE});
    EXPECT_EQ(ui.SendMessage(window, WM_APP, 0, 0), 42);

    ASSERT_TRUE(ui.DestroyWindow(window));
    EXPECT_EQ(procedure.messages.back(), unsigned{WM_DESTROY});
    // Nothing reaches the procedure of a window that is gone.
    const std::size_t seen = procedure.messages.size();
    ui.SendMessage(window, WM_APP, 0, 0);
    EXPECT_EQ(procedure.messages.size(), seen);
}

TEST(Win32Ui, WindowsThatOutliveTheAdapterNoLongerReachTheirProcedures) {
    RecordingProcedure procedure;
    HWND window;
    {
        Win32Ui ui;
        ui.RegisterClass(L"LumivoUiTestOutliving");
        window = static_cast<HWND>(ui.CreateWindowEx(0, L"LumivoUiTestOutliving", L"", WS_POPUP, 0,
                                                     0, 0, 0, NULL, procedure));
        ASSERT_NE(window, nullptr);
    }
    const std::size_t seen = procedure.messages.size();
    EXPECT_EQ(::SendMessageW(window, WM_APP, 0, 0), 0);
    ::DestroyWindow(window);
    EXPECT_EQ(procedure.messages.size(), seen);
}

// The main dialog with the Options page in it.
class Win32UiPage : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog = ui.CreateDialogParam(IDD_MAIN, NULL, dialogProcedure);
        ASSERT_NE(dialog, nullptr);
        page = ui.CreateDialogParam(IDD_OPTIONS, dialog, pageProcedure);
        ASSERT_NE(page, nullptr);
    }
    Win32System system;
    Win32Ui ui{&system};
    RecordingProcedure dialogProcedure;
    RecordingProcedure pageProcedure;
    WindowHandle dialog = NULL;
    WindowHandle page = NULL;
};

TEST_F(Win32UiPage, DialogAndItsPageReachTheirProceduresFromInitDialogToDestroy) {
    EXPECT_EQ(dialogProcedure.messages.front(), unsigned{WM_INITDIALOG});
    EXPECT_EQ(pageProcedure.messages.front(), unsigned{WM_INITDIALOG});
    EXPECT_EQ(ui.SendMessage(page, WM_APP, 0, 0), 42);  // through the dialog's message result

    // Destroying the dialog destroys its page: each procedure's last message.
    ASSERT_TRUE(ui.DestroyWindow(dialog));
    EXPECT_EQ(dialogProcedure.messages.back(), unsigned{WM_DESTROY});
    EXPECT_EQ(pageProcedure.messages.back(), unsigned{WM_DESTROY});
}

TEST_F(Win32UiPage, DisablingTheFocusedControlOfAPageGivesTheFocusToTheDialogsNextTabStop) {
    ui.ShowWindow(dialog, SW_SHOW);
    ui.ShowWindow(page, SW_SHOW);
    HWND save = static_cast<HWND>(ui.GetDlgItem(page, IDC_SAVE));
    ASSERT_NE(save, nullptr);
    ::SetFocus(save);
    ASSERT_EQ(::GetFocus(), save);

    ui.EnableWindow(save, false);
    ASSERT_FALSE(ui.IsWindowEnabled(save));
    HWND focus = ::GetFocus();
    // The next tab stop in the whole dialog's order, found from the top-level dialog.
    EXPECT_EQ(focus, ::GetNextDlgTabItem(static_cast<HWND>(dialog), save, FALSE));
    EXPECT_NE(focus, save);
    EXPECT_TRUE(::IsChild(static_cast<HWND>(dialog), focus));
    ui.DestroyWindow(dialog);
}

TEST(Win32Ui, TheFocusStaysInAnOwnedDialogWhenItsFocusedControlIsDisabled) {
    Win32Ui ui;
    ui.RegisterClass(L"LumivoUiTestOwner");
    RecordingProcedure ownerProcedure;
    RecordingProcedure dialogProcedure;
    WindowHandle owner = ui.CreateWindowEx(0, L"LumivoUiTestOwner", L"", WS_POPUP | WS_VISIBLE, 0,
                                           0, 100, 100, NULL, ownerProcedure);
    // A top-level dialog whose GetParent is its owner: the walk to the
    // top-level window stops at the dialog.
    WindowHandle dialog = ui.CreateDialogParam(IDD_MAIN, owner, dialogProcedure);
    ASSERT_NE(dialog, nullptr);
    ui.ShowWindow(dialog, SW_SHOW);
    HWND tabs = static_cast<HWND>(ui.GetDlgItem(dialog, IDC_TABS));
    HWND button = ::CreateWindowExW(0, L"Button", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 60,
                                    50, 20, static_cast<HWND>(dialog), NULL, NULL, NULL);
    ASSERT_NE(button, nullptr);
    ::SetFocus(tabs);
    ASSERT_EQ(::GetFocus(), tabs);

    ui.EnableWindow(tabs, false);
    EXPECT_EQ(::GetFocus(), button);
    ui.DestroyWindow(dialog);
    ui.DestroyWindow(owner);
}

TEST(Win32Ui, TrayIconIsAddedChangedAndRemovedByTheBoardsRecord) {
    Win32Ui ui;
    ui.RegisterClass(L"LumivoUiTestTray");
    RecordingProcedure procedure;
    WindowHandle window =
        ui.CreateWindowEx(0, L"LumivoUiTestTray", L"", WS_POPUP, 0, 0, 0, 0, NULL, procedure);
    ASSERT_NE(window, nullptr);
    NotifyIconData data;
    data.cbSize = notifyIconDataSize;
    data.hWnd = window;
    data.uID = 7;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_APP;
    data.hIcon = ::LoadIconW(NULL, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
    data.szTip[0] = 'L';

    EXPECT_TRUE(ui.ShellNotifyIcon(NIM_ADD, data));
    data.uFlags = NIF_TIP;
    EXPECT_TRUE(ui.ShellNotifyIcon(NIM_MODIFY, data));
    EXPECT_TRUE(ui.ShellNotifyIcon(NIM_DELETE, data));
    // The shell no longer knows the icon.
    EXPECT_FALSE(ui.ShellNotifyIcon(NIM_MODIFY, data));
    ui.DestroyWindow(window);
}

}  // namespace
}  // namespace lumivo
