#pragma once
// What every SystemPort must do: mutex semantics, timers and the loop,
// registered messages, windows by title. Each build instantiates the suite
// with its own implementations; an implementation comes as an `Under` type:
//   SystemPort& System();
//   std::wstring Name(const wchar_t* base);  // a mutex name of the test's own
//   void LetTimersComeDue();                 // the fake has no clock

#include <gtest/gtest.h>

#include <string>

#include "fakes/function_procedures.h"
#include "platform/system_port.h"

namespace lumivo {

template <typename Under>
class SystemContract : public ::testing::Test {
  protected:
    Under under;
    SystemPort& system() { return under.System(); }

    // Takes messages until one for a timer comes (the loop may hold others).
    Message NextTimerMessage() {
        constexpr unsigned timerMessage = 0x0113;  // WM_TIMER
        under.LetTimersComeDue();
        Message message;
        while (system().GetMessage(message) && message.message != timerMessage) {
            system().DispatchMessage(message);
        }
        return message;
    }
};

TYPED_TEST_SUITE_P(SystemContract);

TYPED_TEST_P(SystemContract, SecondCreateOfAHeldMutexReportsAlreadyExists) {
    SystemPort& system = this->system();
    const std::wstring name = this->under.Name(L"lumivo.test.mutex");
    MutexHandle first = system.CreateMutex(name, true);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);

    MutexHandle second = system.CreateMutex(name, true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(second);

    // Another name is free, and closing the holder frees the first one.
    MutexHandle other = system.CreateMutex(this->under.Name(L"lumivo.test.other"), true);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(other);
    system.CloseHandle(first);
    MutexHandle again = system.CreateMutex(name, true);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(again);
}

TYPED_TEST_P(SystemContract, TimerProcedureRunsOnlyInsideDispatch) {
    SystemPort& system = this->system();
    int ticks = 0;
    FunctionTimer tick([&] { ++ticks; });
    TimerId id = system.SetTimer(20, tick);
    ASSERT_NE(id, 0u);

    Message message = this->NextTimerMessage();
    EXPECT_EQ(message.window, nullptr);
    EXPECT_EQ(message.wParam, id);
    EXPECT_EQ(ticks, 0);
    system.TranslateMessage(message);
    EXPECT_EQ(ticks, 0);
    system.DispatchMessage(message);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(system.KillTimer(id));
}

TYPED_TEST_P(SystemContract, TimersHaveDistinctIdsAndAKilledTimerNeverTicks) {
    SystemPort& system = this->system();
    int first = 0;
    int second = 0;
    FunctionTimer firstTick([&] { ++first; });
    FunctionTimer secondTick([&] { ++second; });
    TimerId a = system.SetTimer(20, firstTick);
    TimerId b = system.SetTimer(20, secondTick);
    EXPECT_NE(a, b);
    EXPECT_TRUE(system.KillTimer(a));
    EXPECT_FALSE(system.KillTimer(a));

    for (int round = 0; round < 2; ++round) system.DispatchMessage(this->NextTimerMessage());
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 2);
    EXPECT_TRUE(system.KillTimer(b));
}

TYPED_TEST_P(SystemContract, QuitMessageEndsTheLoop) {
    SystemPort& system = this->system();
    system.PostQuitMessage(0);
    Message message;
    EXPECT_FALSE(system.GetMessage(message));
}

TYPED_TEST_P(SystemContract, RegisteredMessagesAreStablePerName) {
    SystemPort& system = this->system();
    unsigned taskbar = system.RegisterWindowMessage(L"TaskbarCreated");
    EXPECT_GE(taskbar, 0xC000u);
    EXPECT_LE(taskbar, 0xFFFFu);
    EXPECT_EQ(system.RegisterWindowMessage(L"TaskbarCreated"), taskbar);
    EXPECT_NE(system.RegisterWindowMessage(L"SomethingElse"), taskbar);
}

TYPED_TEST_P(SystemContract, NoWindowHasAnUnknownTitle) {
    EXPECT_EQ(this->system().FindWindow(L"No such window 5b1e"), nullptr);
}

REGISTER_TYPED_TEST_SUITE_P(SystemContract, SecondCreateOfAHeldMutexReportsAlreadyExists,
                            TimerProcedureRunsOnlyInsideDispatch,
                            TimersHaveDistinctIdsAndAKilledTimerNeverTicks, QuitMessageEndsTheLoop,
                            RegisteredMessagesAreStablePerName, NoWindowHasAnUnknownTitle);

}  // namespace lumivo
