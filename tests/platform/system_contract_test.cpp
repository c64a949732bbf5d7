// What every SystemPort must do, run against the fake and the POSIX adapter:
// mutex semantics, timers and the loop, registered messages, message boxes.

#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_system.h"
#include "platform/posix/system_posix.h"
#include "temp_folder.h"

namespace lumivo {
namespace {

// Creates one implementation and lets due timers come due.
template <typename System>
struct SystemUnderTest;

template <>
struct SystemUnderTest<FakeSystem> {
    FakeSystem system;
    // The fake has no clock: a test says when the live timers are due.
    void LetTimersComeDue() { system.PostTickOfEveryTimer(); }
};

template <>
struct SystemUnderTest<PosixSystem> {
    RuntimeFolder runtime;
    PosixSystem system{0, nullptr};
    // The POSIX loop waits on the real clock; the tests' timers are short.
    void LetTimersComeDue() {}
};

template <typename System>
class SystemContract : public ::testing::Test {
  protected:
    SystemUnderTest<System> under;
    SystemPort& system() { return under.system; }
};

using Implementations = ::testing::Types<FakeSystem, PosixSystem>;
TYPED_TEST_SUITE(SystemContract, Implementations);

TYPED_TEST(SystemContract, SecondCreateOfAHeldMutexReportsAlreadyExists) {
    SystemPort& system = this->system();
    MutexHandle first = system.CreateMutex(L"lumivo.test.mutex", true);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);

    MutexHandle second = system.CreateMutex(L"lumivo.test.mutex", true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(second);

    // Another name is free, and closing the holder frees the first one.
    MutexHandle other = system.CreateMutex(L"lumivo.test.other", true);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(other);
    system.CloseHandle(first);
    MutexHandle again = system.CreateMutex(L"lumivo.test.mutex", true);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(again);
}

TYPED_TEST(SystemContract, TimerProcedureRunsOnlyInsideDispatch) {
    SystemPort& system = this->system();
    int ticks = 0;
    TimerId id = system.SetTimer(20, [&] { ++ticks; });
    ASSERT_NE(id, 0u);

    this->under.LetTimersComeDue();
    Message message;
    ASSERT_TRUE(system.GetMessage(message));
    EXPECT_EQ(ticks, 0);
    system.TranslateMessage(message);
    EXPECT_EQ(ticks, 0);
    system.DispatchMessage(message);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(system.KillTimer(id));
}

TYPED_TEST(SystemContract, TimersHaveDistinctIdsAndAKilledTimerNeverTicks) {
    SystemPort& system = this->system();
    int first = 0;
    int second = 0;
    TimerId a = system.SetTimer(20, [&] { ++first; });
    TimerId b = system.SetTimer(20, [&] { ++second; });
    EXPECT_NE(a, b);
    EXPECT_TRUE(system.KillTimer(a));
    EXPECT_FALSE(system.KillTimer(a));

    this->under.LetTimersComeDue();
    Message message;
    ASSERT_TRUE(system.GetMessage(message));
    system.DispatchMessage(message);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(system.KillTimer(b));
}

TYPED_TEST(SystemContract, QuitMessageEndsTheLoop) {
    SystemPort& system = this->system();
    system.PostQuitMessage(0);
    Message message;
    EXPECT_FALSE(system.GetMessage(message));
}

TYPED_TEST(SystemContract, RegisteredMessagesAreStablePerName) {
    SystemPort& system = this->system();
    unsigned taskbar = system.RegisterWindowMessage(L"TaskbarCreated");
    EXPECT_GE(taskbar, 0xC000u);
    EXPECT_LE(taskbar, 0xFFFFu);
    EXPECT_EQ(system.RegisterWindowMessage(L"TaskbarCreated"), taskbar);
    EXPECT_NE(system.RegisterWindowMessage(L"SomethingElse"), taskbar);
}

TYPED_TEST(SystemContract, MessageBoxesAnswerWithTheirDefaultButton) {
    SystemPort& system = this->system();
    EXPECT_EQ(system.MessageBox(nullptr, L"Error creating Dialog", L"Lumivo Runtime", MB_OK), IDOK);
    EXPECT_EQ(
        system.MessageBox(nullptr, L"Quit?", L"Lumivo Runtime", MB_YESNO | MB_ICONEXCLAMATION),
        IDNO);
}

TYPED_TEST(SystemContract, NoWindowHasAnUnknownTitle) {
    EXPECT_EQ(this->system().FindWindow(L"No such window 5b1e"), nullptr);
}

// The fake's scripting, which the core's tests rely on.
TEST(FakeSystemScripting, QueueRunsDryIntoQuitAndIdleCanFeedIt) {
    FakeSystem system;
    int idles = 0;
    system.onIdle = [&] {
        if (++idles == 1) system.PostMessage(nullptr, 0x400);
    };
    Message message;
    ASSERT_TRUE(system.GetMessage(message));
    EXPECT_EQ(message.message, 0x400u);
    EXPECT_FALSE(system.GetMessage(message));
    EXPECT_TRUE(system.ranDry);
}

TEST(FakeSystemScripting, MutexSwitchesAndScriptedAnswers) {
    FakeSystem system;
    system.mutexExists = true;
    EXPECT_NE(system.CreateMutex(L"m", true), nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.mutexFails = true;
    EXPECT_EQ(system.CreateMutex(L"m", true), nullptr);

    system.boxAnswers = {IDYES};
    EXPECT_EQ(system.MessageBox(nullptr, L"q", L"c", MB_YESNO), IDYES);
    EXPECT_EQ(system.MessageBox(nullptr, L"q", L"c", MB_YESNO), IDNO);

    WindowHandle window = system.AddWindow(L"Lumivo Runtime");
    system.onSend = [](const FakeSystem::Sent& sent) -> std::intptr_t { return sent.message + 1; };
    EXPECT_EQ(system.SendMessage(system.FindWindow(L"Lumivo Runtime"), 32779, 0, 0), 32780);
    ASSERT_EQ(system.sent.size(), 1u);
    EXPECT_EQ(system.sent[0].window, window);

    std::vector<unsigned> seen;
    system.onSleep = [&](unsigned ms) { seen.push_back(ms); };
    system.Sleep(30000);
    EXPECT_EQ(system.sleeps, std::vector<unsigned>{30000});
    EXPECT_EQ(seen, std::vector<unsigned>{30000});
}

}  // namespace
}  // namespace lumivo
