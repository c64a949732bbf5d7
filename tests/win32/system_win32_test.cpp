// The Win32 system adapter under Wine: the same contract as the other
// SystemPort implementations (mutex, timers inside dispatch, quit, registered
// messages, windows by title), on the real Windows calls.

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/system_win32.h"
#include "platform/win32/windows_api.h"

namespace lumivo {
namespace {

// A name of this test process's own, so that test runs side by side do not meet.
std::wstring UniqueName(const wchar_t* base) {
    return std::wstring(base) + L"." + std::to_wstring(::GetCurrentProcessId());
}

// Takes messages until one for a timer comes (the loop may hold others).
Message NextTimerMessage(SystemPort& system) {
    Message message;
    while (system.GetMessage(message) && message.message != WM_TIMER) {
        system.DispatchMessage(message);
    }
    return message;
}

TEST(Win32System, SecondCreateOfAHeldMutexReportsAlreadyExists) {
    Win32System system;
    std::wstring name = UniqueName(L"lumivo.test.mutex");
    MutexHandle first = system.CreateMutex(name, true);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);

    MutexHandle second = system.CreateMutex(name, true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(second);

    system.CloseHandle(first);
    MutexHandle again = system.CreateMutex(name, true);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(again);
}

TEST(Win32System, TimerProcedureRunsOnlyInsideDispatch) {
    Win32System system;
    int ticks = 0;
    TimerId id = system.SetTimer(20, [&] { ++ticks; });
    ASSERT_NE(id, 0u);

    Message message = NextTimerMessage(system);
    ASSERT_EQ(message.message, static_cast<unsigned>(WM_TIMER));
    EXPECT_EQ(message.window, nullptr);
    EXPECT_EQ(ticks, 0);
    system.TranslateMessage(message);
    EXPECT_EQ(ticks, 0);
    system.DispatchMessage(message);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(system.KillTimer(id));
}

TEST(Win32System, TimersHaveDistinctIdsAndAKilledTimerNeverTicks) {
    Win32System system;
    int first = 0;
    int second = 0;
    TimerId a = system.SetTimer(20, [&] { ++first; });
    TimerId b = system.SetTimer(20, [&] { ++second; });
    EXPECT_NE(a, b);
    EXPECT_TRUE(system.KillTimer(a));
    EXPECT_FALSE(system.KillTimer(a));

    for (int i = 0; i < 3; ++i) system.DispatchMessage(NextTimerMessage(system));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 3);
    EXPECT_TRUE(system.KillTimer(b));
}

// A modal message box runs a loop of its own; the agent's timers must keep
// ticking in it (the quit question may stay open for a long time).
TEST(Win32System, TimersTickInsideAModalLoopToo) {
    Win32System system;
    int ticks = 0;
    TimerId id = system.SetTimer(10, [&] {
        if (++ticks == 2) system.PostQuitMessage(0);
    });
    // A nested loop of the platform's own: DispatchMessageW alone, no adapter.
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    EXPECT_EQ(ticks, 2);
    system.KillTimer(id);
}

TEST(Win32System, QuitMessageEndsTheLoop) {
    Win32System system;
    system.PostQuitMessage(0);
    Message message;
    EXPECT_FALSE(system.GetMessage(message));
}

TEST(Win32System, RegisteredMessagesAreStablePerName) {
    Win32System system;
    unsigned taskbar = system.RegisterWindowMessage(L"TaskbarCreated");
    EXPECT_GE(taskbar, 0xC000u);
    EXPECT_LE(taskbar, 0xFFFFu);
    EXPECT_EQ(system.RegisterWindowMessage(L"TaskbarCreated"), taskbar);
    EXPECT_NE(system.RegisterWindowMessage(L"SomethingElse"), taskbar);
}

LRESULT CALLBACK AnswerPlusOne(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 32779) return 32780;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32System, FindsATopLevelWindowByExactTitleAndSendsToIt) {
    Win32System system;
    EXPECT_EQ(system.FindWindow(L"No such window 5b1e"), nullptr);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AnswerPlusOne;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumivoSystemTest";
    ::RegisterClassW(&windowClass);
    std::wstring title = UniqueName(L"Lumivo Test Window");
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_POPUP, 0, 0, 0,
                                    0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(system.FindWindow(title), window);
    EXPECT_EQ(system.FindWindow(title + L" "), nullptr);
    EXPECT_EQ(system.SendMessage(system.FindWindow(title), 32779, 0, 0), 32780);
    ::DestroyWindow(window);
    EXPECT_EQ(system.FindWindow(title), nullptr);
}

TEST(Win32System, OwnPathAndCommandLineComeFromWindows) {
    Win32System system;
    std::wstring path = system.GetModuleFileName();
    ASSERT_GT(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    // The command line starts with the program, quoted or not.
    std::wstring line = system.GetCommandLine();
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    EXPECT_NE(line.find(name), std::wstring::npos);
}

}  // namespace
}  // namespace lumivo
