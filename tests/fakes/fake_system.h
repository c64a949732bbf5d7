#pragma once
// In-memory SystemPort for unit tests: everything is recorded, nothing waits
// and nothing leaves the process. A test scripts the answers it needs.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/system_port.h"

namespace lumivo {

class FakeSystem : public SystemPort {
  public:
    // Message numbers of the fake's own loop, as on the real platform.
    static constexpr unsigned kQuitMessage = 0x0012;
    static constexpr unsigned kTimerMessage = 0x0113;
    static constexpr unsigned long kAccessDenied = 5;

    struct Timer {
        TimerId id = 0;
        unsigned elapseMs = 0;
        TimerProcedure* procedure = nullptr;
        bool killed = false;
    };
    struct Sent {
        WindowHandle window = nullptr;
        unsigned message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
    };
    struct Box {
        WindowHandle owner = nullptr;
        std::wstring text;
        std::wstring caption;
        unsigned type = 0;
    };

    // --- Command line ---
    std::wstring commandLine;
    std::wstring moduleFileName = L"\\Windows\\lumivo.exe";

    std::wstring GetCommandLine() override { return commandLine; }
    std::wstring GetModuleFileName() override { return moduleFileName; }

    // --- Named mutex ---
    // Names are held per open handle, as across processes: a second create of a
    // held name gives a handle and last error 183. mutexExists makes every name
    // look held by another copy; mutexFails gives no handle at all (last error 5).
    bool mutexExists = false;
    bool mutexFails = false;
    unsigned long mutexFailure = kAccessDenied;  // the last error of a failed CreateMutex
    std::vector<std::wstring> mutexNames;  // every CreateMutex, in order
    std::vector<bool> mutexInitialOwner;
    std::vector<MutexHandle> closedHandles;
    std::map<MutexHandle, std::wstring> openMutexes;

    MutexHandle CreateMutex(const std::wstring& name, bool initialOwner) override {
        mutexNames.push_back(name);
        mutexInitialOwner.push_back(initialOwner);
        if (mutexFails) {
            lastError = mutexFailure;
            return nullptr;
        }
        bool held = mutexExists;
        for (const auto& open : openMutexes) held = held || open.second == name;
        lastError = held ? ERROR_ALREADY_EXISTS : 0;
        MutexHandle handle = MakeHandle(0x100 + mutexNames.size());
        openMutexes[handle] = name;
        return handle;
    }
    void CloseHandle(MutexHandle handle) override {
        closedHandles.push_back(handle);
        openMutexes.erase(handle);
    }

    unsigned long lastError = 0;
    unsigned long GetLastError() override { return lastError; }

    // --- Timers ---
    std::vector<Timer> timers;  // every SetTimer, in order; ids 1, 2, ...
    std::vector<TimerId> killedTimers;

    TimerId SetTimer(unsigned elapseMs, TimerProcedure& procedure) override {
        Timer timer;
        timer.id = timers.size() + 1;
        timer.elapseMs = elapseMs;
        timer.procedure = &procedure;
        timers.push_back(std::move(timer));
        return timers.back().id;
    }
    bool KillTimer(TimerId id) override {
        killedTimers.push_back(id);
        Timer* timer = FindTimer(id);
        if (timer == nullptr) return false;
        timer->killed = true;
        return true;
    }
    // Runs a live timer's procedure at once; false when there is none.
    bool FireTimer(TimerId id) {
        Timer* timer = FindTimer(id);
        if (timer == nullptr) return false;
        TimerProcedure* procedure = timer->procedure;  // the procedure may set or kill timers
        procedure->OnTimer(id);
        return true;
    }
    // Queues the timer message of a timer, as the platform does when it is due.
    void PostTimerTick(TimerId id) { queue.push_back(Message{nullptr, kTimerMessage, id, 0}); }
    // Queues one tick of every live timer, in the order they were set.
    void PostTickOfEveryTimer() {
        for (const Timer& timer : timers)
            if (!timer.killed) PostTimerTick(timer.id);
    }

    // --- Message loop ---
    // GetMessage takes the front of `queue`. When the queue is empty it calls
    // `onIdle` (which may queue more) and, if still empty, behaves as if the
    // quit message came, so a test never hangs.
    std::deque<Message> queue;
    std::function<void()> onIdle;
    std::function<void(const Message&)> onDispatch;  // non-timer messages
    std::vector<Message> translated;
    std::vector<Message> dispatched;
    std::vector<int> quitCodes;
    int getMessageCalls = 0;
    bool ranDry = false;

    void PostMessage(WindowHandle window, unsigned message, std::uintptr_t wParam = 0,
                     std::intptr_t lParam = 0) {
        queue.push_back(Message{window, message, wParam, lParam});
    }

    bool GetMessage(Message& message) override {
        ++getMessageCalls;
        if (queue.empty() && onIdle) onIdle();
        if (queue.empty()) {
            ranDry = true;
            message = Message{nullptr, kQuitMessage, 0, 0};
            return false;
        }
        message = queue.front();
        queue.pop_front();
        return message.message != kQuitMessage;
    }
    void TranslateMessage(const Message& message) override { translated.push_back(message); }
    void DispatchMessage(const Message& message) override {
        dispatched.push_back(message);
        if (message.message == kTimerMessage && message.window == nullptr) {
            FireTimer(static_cast<TimerId>(message.wParam));
            return;
        }
        if (onDispatch) onDispatch(message);
    }
    void PostQuitMessage(int exitCode) override {
        quitCodes.push_back(exitCode);
        queue.push_back(Message{nullptr, kQuitMessage, static_cast<std::uintptr_t>(exitCode), 0});
    }

    // --- Windows ---
    // FindWindow answers from `windows` (title to handle); null when absent.
    std::map<std::wstring, WindowHandle> windows;
    std::vector<std::wstring> foundTitles;
    std::vector<Sent> sent;
    std::function<std::intptr_t(const Sent&)> onSend;

    WindowHandle AddWindow(const std::wstring& title) {
        WindowHandle handle = MakeHandle(0x1000 + windows.size());
        windows[title] = handle;
        return handle;
    }
    WindowHandle FindWindow(const std::wstring& title) override {
        foundTitles.push_back(title);
        auto it = windows.find(title);
        return it == windows.end() ? nullptr : it->second;
    }
    std::intptr_t SendMessage(WindowHandle window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
        Sent one{window, message, wParam, lParam};
        sent.push_back(one);
        return onSend ? onSend(one) : 0;
    }

    // --- Message boxes ---
    // Answered from `boxAnswers` in order; when none is left, IDOK for an OK
    // box and IDNO for a yes/no box.
    std::vector<Box> boxes;
    std::deque<int> boxAnswers;

    int MessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                   unsigned type) override {
        boxes.push_back(Box{owner, text, caption, type});
        if (!boxAnswers.empty()) {
            int answer = boxAnswers.front();
            boxAnswers.pop_front();
            return answer;
        }
        return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
    }

    // --- Registered messages: stable numbers from 0xC000 on, one per name ---
    std::map<std::wstring, unsigned> registered;
    unsigned RegisterWindowMessage(const std::wstring& name) override {
        auto it = registered.find(name);
        if (it != registered.end()) return it->second;
        unsigned number = 0xC000 + static_cast<unsigned>(registered.size());
        registered[name] = number;
        return number;
    }

    // --- Sleeping: recorded, never waits; onSleep runs after each record ---
    std::vector<unsigned> sleeps;
    std::function<void(unsigned)> onSleep;
    void Sleep(unsigned milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) onSleep(milliseconds);
    }

  private:
    static void* MakeHandle(std::size_t value) { return reinterpret_cast<void*>(value); }
    Timer* FindTimer(TimerId id) {
        for (Timer& timer : timers)
            if (timer.id == id && !timer.killed) return &timer;
        return nullptr;
    }
};

}  // namespace lumivo
