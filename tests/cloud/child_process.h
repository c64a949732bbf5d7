#pragma once
// Runs a program (the agent, devcloud) as a child process with extra environment, collects
// its standard output line by line with the time each line arrived, and ends
// it with SIGTERM (SIGKILL when it does not end).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace lumivo::test {

class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;
    struct Line {
        std::string text;
        Clock::time_point at;
    };

    ChildProcess(const std::string& binary, const std::vector<std::string>& args,
                 const std::vector<std::string>& extraEnvironment) {
        int fds[2];
        if (pipe(fds) != 0) return;
        std::vector<std::string> argStrings{binary};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<std::string> envStrings;
        for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
        envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> argv, envp;
        for (auto& s : argStrings) argv.push_back(s.data());
        for (auto& s : envStrings) envp.push_back(s.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~ChildProcess() {
        Stop();
        if (out_ >= 0) close(out_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Reads output until `match` accepts a line after the first `from` lines,
    // or the time runs out; gives the line's index or -1.
    int WaitFor(const std::function<bool(const std::string&)>& match, double seconds,
                std::size_t from = 0) {
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(seconds));
        std::size_t checked = from;
        for (;;) {
            for (; checked < lines_.size(); ++checked) {
                if (match(lines_[checked].text)) return static_cast<int>(checked);
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return -1;
        }
    }
    int WaitForLine(const std::string& text, double seconds, std::size_t from = 0) {
        return WaitFor([&text](const std::string& line) { return line == text; }, seconds, from);
    }

    // SIGTERM, then the exit status (SIGKILL after 10 s); -1 when it was not running.
    int Stop() {
        if (pid_ <= 0) return exitStatus_;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            ReadSome(0);
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                while (ReadSome(0)) {
                }
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return exitStatus_;
            }
            usleep(100000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        exitStatus_ = 137;
        return exitStatus_;
    }

    const std::vector<Line>& Lines() const { return lines_; }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Line& line : lines_) texts.push_back(line.text);
        return texts;
    }

  private:
    // Reads what is there within timeoutMs; false at the end of the output or
    // when nothing came.
    bool ReadSome(int timeoutMs) {
        if (out_ < 0) return false;
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0) return false;
        const auto now = Clock::now();
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                lines_.push_back({partial_, now});
                partial_.clear();
            } else {
                partial_.push_back(buffer[i]);
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int exitStatus_ = -1;
    std::string partial_;
    std::vector<Line> lines_;
};

}  // namespace lumivo::test
