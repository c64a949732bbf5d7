// POSIX-only behaviour of the system adapter: the rebuilt command line, the
// mutex after its holder is killed, windows found and sent to across
// processes, the timing of the loop, and termination signals.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/agent_app.h"
#include "app/command_line.h"
#include "base/agent.h"
#include "base/constants.h"
#include "base/text.h"
#include "fakes/console_capture.h"
#include "fakes/fake_files.h"
#include "fakes/function_procedures.h"
#include "platform/posix/system_posix.h"
#include "temp_folder.h"

namespace lumivo {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> RoundTrip(const std::vector<std::string>& arguments) {
    std::vector<std::string> back;
    for (const std::wstring& word :
         SplitCommandLine(PosixSystem::JoinCommandLine(arguments), L"/fallback"))
        back.push_back(ToNarrow(word));
    return back;
}

TEST(PosixCommandLine, ArgumentsComeBackThroughTheCoresSplitting) {
    const std::vector<std::vector<std::string>> cases = {
        {"/usr/bin/lumivo-runtime"},
        {"/usr/bin/lumivo-runtime", "-d", "-g", "-p=secret"},
        {"/opt/my tools/lumivo-runtime", "-p=two words", "-p=tab\there"},
        {"/odd\"name", "quote\"inside", "\"wrapped\"", "-p=\"x\""},
        {"lumivo", "back\\slash", "trailing\\", "\\\\\"", "many\\\\\\\\"},
        {"lumivo", "", "-c=false", "", "\xe9t\xe9"},
        {"lumivo", "line\nfeed", "a=b=c"},
    };
    for (const auto& arguments : cases) EXPECT_EQ(RoundTrip(arguments), arguments);
}

TEST(PosixCommandLine, ProcessArgumentsAndOwnFile) {
    char program[] = "/usr/bin/lumivo-runtime";
    char debug[] = "-d";
    char password[] = "-p=a b";
    char* argv[] = {program, debug, password, nullptr};
    PosixSystem system(3, argv);
    EXPECT_EQ(system.GetCommandLine(), L"/usr/bin/lumivo-runtime -d \"-p=a b\"");

    // The test's own executable, as the kernel names it.
    std::string own = ToNarrow(system.GetModuleFileName());
    EXPECT_EQ(own.front(), '/');
    EXPECT_NE(own.find("platform-posix-tests"), std::string::npos);
}

// A child process that runs `body` and reports through a pipe when it is ready.
class Child {
  public:
    template <typename Body>
    explicit Child(Body body) {
        int fds[2];
        if (pipe(fds) != 0) std::abort();
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            int ready = fds[1];
            body([ready] {
                char byte = 1;
                if (write(ready, &byte, 1) != 1) _exit(3);
            });
            _exit(0);
        }
        close(fds[1]);
        ready_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(ready_);
    }
    bool WaitReady() {
        char byte = 0;
        return read(ready_, &byte, 1) == 1;
    }
    void Kill() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void Terminate() { kill(pid_, SIGTERM); }
    // The child's exit status, or minus the signal that ended it.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        if (WIFSIGNALED(status)) return -WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    }

  private:
    pid_t pid_ = -1;
    int ready_ = -1;
};

TEST(PosixMutex, KilledHolderLeavesNoStaleLock) {
    RuntimeFolder runtime;
    Child holder([](auto ready) {
        PosixSystem system(0, nullptr);
        if (system.CreateMutex(singleInstanceMutexName, true) == nullptr) _exit(2);
        ready();
        pause();
    });
    ASSERT_TRUE(holder.WaitReady());

    PosixSystem system(0, nullptr);
    MutexHandle second = system.CreateMutex(singleInstanceMutexName, true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(system.GetLastError(), ERROR_ALREADY_EXISTS);
    system.CloseHandle(second);

    holder.Kill();
    MutexHandle mine = system.CreateMutex(singleInstanceMutexName, true);
    ASSERT_NE(mine, nullptr);
    EXPECT_NE(system.GetLastError(), ERROR_ALREADY_EXISTS);
}

// A runtime folder is used only when it is a real folder of the user's that
// no one else can write, and is never changed; a refused one leaves the mutex
// with ERROR_NO_INSTANCE_GUARD, so no "App already running..." follows.
TEST(PosixRuntimeFolder, OnlyARealFolderOfOursThatOthersCannotWriteIsUsed) {
    TempFolder base;
    chmod(base.path().c_str(), 01777);  // like /tmp: anyone may make a folder here
    std::string readable = base.path() + "/readable";
    mkdir(readable.c_str(), 0755);
    chmod(readable.c_str(), 0755);
    setenv("LUMIVO_RUNTIME_DIR", readable.c_str(), 1);
    EXPECT_EQ(PosixSystem::RuntimeDirectory(), readable);
    struct stat info {};
    stat(readable.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0755u);  // not ours to change

    std::vector<std::string> refused;
    std::string open = base.path() + "/open";
    mkdir(open.c_str(), 0777);
    chmod(open.c_str(), 0777);
    refused.push_back(open);
    // A link could point anywhere.
    std::string link = base.path() + "/link";
    ASSERT_EQ(symlink(readable.c_str(), link.c_str()), 0);
    refused.push_back(link);
    if (geteuid() == 0) {  // squatted by another user
        std::string squatted = base.path() + "/squatted";
        mkdir(squatted.c_str(), 0700);
        ASSERT_EQ(chown(squatted.c_str(), 65534, 65534), 0);
        refused.push_back(squatted);
    }
    for (const std::string& folder : refused) {
        setenv("LUMIVO_RUNTIME_DIR", folder.c_str(), 1);
        EXPECT_EQ(PosixSystem::RuntimeDirectory(), "") << folder;
        PosixSystem system(0, nullptr);
        EXPECT_EQ(system.CreateMutex(singleInstanceMutexName, true), nullptr);
        EXPECT_EQ(system.GetLastError(), ERROR_NO_INSTANCE_GUARD);
    }
    stat(open.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0777u);
    unsetenv("LUMIVO_RUNTIME_DIR");
}

TEST(PosixWindows, LocalWindowsAreFoundSentToAndPostedTo) {
    RuntimeFolder runtime;
    PosixSystem system(0, nullptr);
    int object = 0;
    WindowHandle window = &object;
    std::vector<unsigned> seen;
    system.RegisterWindow(window, L"Lumivo Runtime",
                          [&](unsigned message, std::uintptr_t w, std::intptr_t) -> std::intptr_t {
                              seen.push_back(message);
                              return static_cast<std::intptr_t>(w) * 2;
                          });
    ASSERT_EQ(system.FindWindow(L"Lumivo Runtime"), window);
    EXPECT_EQ(system.SendMessage(window, WM_SHOWGUI, 21, 0), 42);
    EXPECT_EQ(seen, std::vector<unsigned>{WM_SHOWGUI});

    EXPECT_TRUE(system.PostMessage(window, WM_VPNDISCONNECTED, 0, 0));
    EXPECT_FALSE(system.PostMessage(&seen, WM_VPNDISCONNECTED, 0, 0));
    Message message;
    ASSERT_TRUE(system.GetMessage(message));
    EXPECT_EQ(seen.size(), 1u);  // posted: waits for dispatch
    system.DispatchMessage(message);
    EXPECT_EQ(seen.back(), WM_VPNDISCONNECTED);

    system.SetWindowTitle(window, L"Renamed");
    EXPECT_EQ(system.FindWindow(L"Lumivo Runtime"), nullptr);
    EXPECT_EQ(system.FindWindow(L"Renamed"), window);
    system.UnregisterWindow(window);
    EXPECT_EQ(system.FindWindow(L"Renamed"), nullptr);
}

// The first copy's window, in a child process running its own loop.
void RunWindowOwner(const std::wstring& title, std::function<void()> ready) {
    PosixSystem system(0, nullptr);
    int object = 0;
    system.RegisterWindow(
        &object, title, [&](unsigned message, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
            if (message != WM_SHOWGUI) return -1;
            system.PostQuitMessage(0);
            return static_cast<std::intptr_t>(w) + l;
        });
    ready();
    Message message;
    while (system.GetMessage(message)) system.DispatchMessage(message);
}

TEST(PosixWindows, SecondProcessSendsToTheFirstSynchronously) {
    RuntimeFolder runtime;
    Child owner([](auto ready) { RunWindowOwner(L"Lumivo Runtime", ready); });
    ASSERT_TRUE(owner.WaitReady());

    PosixSystem second(0, nullptr);
    EXPECT_EQ(second.FindWindow(L"Lumivo Runtime Other"), nullptr);
    WindowHandle window = second.FindWindow(L"Lumivo Runtime");
    ASSERT_NE(window, nullptr);
    // Only WM_SHOWGUI gets through: a WM_NOTIFY with a made-up pointer is
    // dropped (the handler would answer -1 and end nothing).
    EXPECT_EQ(second.SendMessage(window, 0x004E, 0, static_cast<std::intptr_t>(0x7fffdead)), 0);
    // The answer is the handler's own: the send waited for it.
    EXPECT_EQ(second.SendMessage(window, WM_SHOWGUI, 40, 2), 42);
    EXPECT_EQ(owner.Wait(), 0);  // its loop ended because the message arrived

    // The owner is gone: its window is gone with it.
    EXPECT_EQ(second.FindWindow(L"Lumivo Runtime"), nullptr);
    EXPECT_EQ(second.SendMessage(window, WM_SHOWGUI, 40, 2), 0);
}

TEST(PosixWindows, KilledOwnerLeavesNoWindowAndItsTitleCanBeTakenAgain) {
    RuntimeFolder runtime;
    Child owner([](auto ready) { RunWindowOwner(L"Lumivo Runtime", ready); });
    ASSERT_TRUE(owner.WaitReady());
    owner.Kill();

    PosixSystem system(0, nullptr);
    EXPECT_EQ(system.FindWindow(L"Lumivo Runtime"), nullptr);

    Child next([](auto ready) { RunWindowOwner(L"Lumivo Runtime", ready); });
    ASSERT_TRUE(next.WaitReady());
    WindowHandle window = system.FindWindow(L"Lumivo Runtime");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(system.SendMessage(window, WM_SHOWGUI, 1, 1), 2);
    EXPECT_EQ(next.Wait(), 0);
}

TEST(PosixWindows, SecondCopyOfTheAgentAsksTheFirstToShowItself) {
    RuntimeFolder runtime;
    Child first([](auto ready) {
        PosixSystem system(0, nullptr);
        if (system.CreateMutex(singleInstanceMutexName, true) == nullptr) _exit(2);
        RunWindowOwner(L"Lumivo Runtime", ready);
    });
    ASSERT_TRUE(first.WaitReady());

    char program[] = "lumivo-runtime";
    char showGui[] = "-g";
    char* argv[] = {program, showGui, nullptr};
    PosixSystem system(2, argv);
    FakeFiles files;
    Agent agent;
    agent.ports.system = &system;
    agent.ports.files = &files;
    test::ConsoleCapture console;
    EXPECT_FALSE(CAgentApp(agent).RunAgent());
    EXPECT_EQ(console.Lines(), std::vector<std::string>{"App already running..."});
    EXPECT_EQ(first.Wait(), 0);  // its window got WM_SHOWGUI
}

// Runs the loop until a timer procedure posts the quit message.
void RunLoop(PosixSystem& system) {
    Message message;
    while (system.GetMessage(message)) {
        system.TranslateMessage(message);
        system.DispatchMessage(message);
    }
}

TEST(PosixLoop, LongHandlerDelaysTheNextTickWithoutABurst) {
    RuntimeFolder runtime;
    PosixSystem system(0, nullptr);
    const auto period = std::chrono::milliseconds(40);
    std::vector<Clock::time_point> starts;
    std::vector<Clock::time_point> ends;
    int otherTicks = 0;
    FunctionTimer longTick([&] {
        starts.push_back(Clock::now());
        if (starts.size() == 1) std::this_thread::sleep_for(period * 6);
        if (starts.size() == 4) system.PostQuitMessage(0);
        ends.push_back(Clock::now());
    });
    system.SetTimer(40, longTick);
    // Another timer that falls due many times over during the long handler.
    FunctionTimer otherTick([&] { ++otherTicks; });
    TimerId other = system.SetTimer(10, otherTick);
    auto begin = Clock::now();
    RunLoop(system);
    auto total = Clock::now() - begin;

    ASSERT_EQ(starts.size(), 4u);
    // The tick after the long handler comes a whole period after its end;
    // later ticks keep their period counted from it (one woken late under
    // load may be followed by a shorter gap, never by a burst).
    const auto slack = std::chrono::milliseconds(2);
    EXPECT_GE(starts[1] - ends[0], period - slack);
    for (std::size_t i = 2; i < starts.size(); ++i)
        EXPECT_GE(starts[i] - starts[1], period * static_cast<int>(i - 1) - slack) << "tick " << i;
    // 10 ms over the whole run at most, and nothing made up for the long handler.
    auto most = std::chrono::duration_cast<std::chrono::milliseconds>(total).count() / 10 + 2;
    EXPECT_LE(otherTicks, most);
    EXPECT_LE(otherTicks, most - 20);
    EXPECT_TRUE(system.KillTimer(other));
}

TEST(PosixLoop, ShortHandlersKeepTheirPeriod) {
    RuntimeFolder runtime;
    PosixSystem system(0, nullptr);
    int ticks = 0;
    auto begin = Clock::now();
    FunctionTimer tick([&] {
        if (++ticks == 10) system.PostQuitMessage(0);
    });
    system.SetTimer(20, tick);
    RunLoop(system);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    EXPECT_GE(elapsed.count(), 200);
    EXPECT_LT(elapsed.count(), 1000);  // the machine may be busy; drift would add up far less
}

TEST(PosixLoop, TerminationSignalRunsItsHandlerInsideDispatch) {
    RuntimeFolder runtime;
    PosixSystem system(0, nullptr);
    int terminations = 0;
    system.SetTerminationHandler([&] {
        ++terminations;
        system.PostQuitMessage(0);
    });
    FunctionTimer idle([] {});
    TimerId timer = system.SetTimer(10, idle);
    Message message;
    ASSERT_TRUE(system.GetMessage(message));  // the loop runs from here on
    system.KillTimer(timer);
    raise(SIGTERM);
    ASSERT_TRUE(system.GetMessage(message));
    EXPECT_EQ(terminations, 0);
    system.DispatchMessage(message);
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(system.GetMessage(message));
    system.SetTerminationHandler(nullptr);
}

TEST(PosixLoop, TerminationBeforeTheLoopRunsEndsTheProcess) {
    RuntimeFolder runtime;
    Child agent([](auto ready) {
        PosixSystem system(0, nullptr);
        system.SetTerminationHandler([&] { system.PostQuitMessage(0); });
        ready();
        for (;;) system.Sleep(30000);  // as while signing in
    });
    ASSERT_TRUE(agent.WaitReady());
    agent.Terminate();
    EXPECT_EQ(agent.Wait(), -SIGTERM);
}

TEST(PosixLoop, SecondTerminationWhileTheFirstWaitsEndsTheProcess) {
    RuntimeFolder runtime;
    Child agent([](auto ready) {
        PosixSystem system(0, nullptr);
        system.SetTerminationHandler([&] { system.PostQuitMessage(0); });
        FunctionTimer stuck([&] {
            ready();
            for (;;) system.Sleep(30000);  // a request that never ends
        });
        system.SetTimer(10, stuck);
        Message message;
        while (system.GetMessage(message)) system.DispatchMessage(message);
    });
    ASSERT_TRUE(agent.WaitReady());
    agent.Terminate();  // handed on to the loop, which is stuck
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    agent.Terminate();
    EXPECT_EQ(agent.Wait(), -SIGTERM);
}

TEST(PosixMessageBox, YesNoAnswerCanBeChosenByTheEnvironment) {
    RuntimeFolder runtime;
    PosixSystem system(0, nullptr);
    setenv("LUMIVO_MESSAGEBOX_ANSWER", "yes", 1);
    EXPECT_EQ(system.MessageBox(nullptr, L"Quit?", L"Lumivo Runtime", MB_YESNO), IDYES);
    EXPECT_EQ(system.MessageBox(nullptr, L"Error creating Dialog", L"Lumivo Runtime", MB_OK), IDOK);
    setenv("LUMIVO_MESSAGEBOX_ANSWER", "no", 1);
    EXPECT_EQ(system.MessageBox(nullptr, L"Quit?", L"Lumivo Runtime", MB_YESNO), IDNO);
    unsetenv("LUMIVO_MESSAGEBOX_ANSWER");
}

}  // namespace
}  // namespace lumivo
