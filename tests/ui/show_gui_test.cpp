// The headless host on the real POSIX system adapter: a second process's
// WM_SHOWGUI shows the dialog, and a termination signal quits the agent
// through its own exit command.

#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/function_procedures.h"
#include "platform/posix/system_posix.h"
#include "platform/posix/ui_host.h"
#include "ui/main_dialog.h"

namespace lumivo {
namespace {

class ShowGuiTest : public ::testing::Test {
  protected:
    ShowGuiTest() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivo-ui-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        runtime_ = pattern;
        setenv("LUMIVO_RUNTIME_DIR", runtime_.c_str(), 1);
        system = std::make_unique<PosixSystem>(0, nullptr);
        ui = std::make_unique<PosixUi>(system.get());
        agent.ports.system = system.get();
        agent.ports.ui = ui.get();
        dialog = std::make_unique<CMainDialog>(agent, productName);
        agent.mainDialog = dialog.get();
    }
    ~ShowGuiTest() override {
        dialog.reset();
        ui.reset();
        system.reset();
        unsetenv("LUMIVO_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(runtime_, ignored);
    }

    // Runs the message loop until `done` says so or ten seconds have passed;
    // false when the loop ended by the quit message.
    bool RunLoopUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool finished = false;
        FunctionTimer tick([&] {
            if (done() || std::chrono::steady_clock::now() > deadline) {
                finished = true;
                system->PostQuitMessage(0);
            }
        });
        TimerId check = system->SetTimer(20, tick);
        Message message;
        while (system->GetMessage(message)) {
            system->TranslateMessage(message);
            system->DispatchMessage(message);
        }
        system->KillTimer(check);
        return finished;
    }

    // Runs `body` in a child process while this process runs its loop; the
    // child's exit status, or -1 when it did not end by itself in time.
    int RunChild(const std::function<void()>& body) {
        pid_t child = fork();
        if (child == 0) {
            body();
            _exit(0);
        }
        if (child < 0) return -1;
        int status = -1;
        bool exited = false;
        RunLoopUntil([&] {
            if (!exited && waitpid(child, &status, WNOHANG) == child) exited = true;
            return exited;
        });
        if (!exited) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    test::ConsoleCapture console;
    std::string runtime_;
    std::unique_ptr<PosixSystem> system;
    std::unique_ptr<PosixUi> ui;
    Agent agent;
    std::unique_ptr<CMainDialog> dialog;
};

TEST_F(ShowGuiTest, SecondProcessShowsTheDialog) {
    ASSERT_TRUE(dialog->Create());
    WindowHandle main = dialog->GetSafeHwnd();
    ASSERT_FALSE(ui->IsWindowVisible(main));

    // What a second copy started with "-g" does.
    const int status = RunChild([] {
        PosixSystem second(0, nullptr);
        WindowHandle running = second.FindWindow(L"Lumivo Runtime");
        _exit(running != nullptr && second.SendMessage(running, WM_SHOWGUI, 0, 0) == 1 ? 0 : 1);
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ui->IsWindowVisible(main));
    Rect rect;
    ui->GetWindowRect(main, rect);
    EXPECT_EQ(rect.right - rect.left, 480);
    EXPECT_EQ(rect.bottom - rect.top, 272);
}

TEST_F(ShowGuiTest, SecondCopyOfTheProgramWithGShowsTheDialog) {
    // This process plays the first copy: it holds the mutex and the window.
    ASSERT_NE(system->CreateMutex(singleInstanceMutexName, true), nullptr);
    ASSERT_NE(system->GetLastError(), ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(dialog->Create());

    int output[2];
    ASSERT_EQ(pipe(output), 0);
    const int status = RunChild([&] {
        dup2(output[1], STDOUT_FILENO);
        execl(LUMIVO_RUNTIME_EXE, LUMIVO_RUNTIME_EXE, "-g", static_cast<char*>(nullptr));
        _exit(127);
    });
    close(output[1]);
    char buffer[256] = {};
    const ssize_t length = read(output[0], buffer, sizeof buffer - 1);
    close(output[0]);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0),
              "App already running...\n");
    EXPECT_TRUE(ui->IsWindowVisible(dialog->GetSafeHwnd()));
}

TEST_F(ShowGuiTest, TerminationSignalQuitsThroughTheExitCommand) {
    ASSERT_TRUE(dialog->Create());
    ASSERT_TRUE(ui->CurrentTrayIcon().has_value());
    // The signal comes while the loop runs; the loop then ends by the quit
    // message that the exit command posts.
    bool raised = false;
    EXPECT_FALSE(RunLoopUntil([&] {
        if (!raised) raised = raise(SIGTERM) == 0;
        return false;
    }));
    EXPECT_FALSE(ui->CurrentTrayIcon().has_value());
}

}  // namespace
}  // namespace lumivo
