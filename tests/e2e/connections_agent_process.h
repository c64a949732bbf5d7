#pragma once
// The agent binary as a child process with extra environment: standard
// output goes to a file that the test reads line by line; Stop ends it with
// SIGTERM, as a user's quit would, and gives its exit status.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lumivo::test {

class AgentProcess {
  public:
    AgentProcess(const std::string& binary, std::vector<std::string> args,
                 const std::vector<std::string>& environment, std::string outputPath)
        : outputPath_(std::move(outputPath)) {
        args.insert(args.begin(), binary);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        for (std::string& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~AgentProcess() { Stop(); }
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // The complete lines written so far.
    std::vector<std::string> Lines() const {
        std::ifstream file(outputPath_);
        std::stringstream text;
        text << file.rdbuf();
        std::vector<std::string> lines;
        std::string all = text.str(), line;
        std::size_t start = 0;
        for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1) {
            lines.push_back(all.substr(start, end - start));
        }
        return lines;
    }

    // The index of the first line equal to `text` after line `after`, waiting
    // up to `seconds`; -1 when none came.
    int WaitForLine(const std::string& text, double seconds, int after = -1) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            const std::vector<std::string> lines = Lines();
            for (std::size_t i = static_cast<std::size_t>(after + 1); i < lines.size(); ++i) {
                if (lines[i] == text) return static_cast<int>(i);
            }
            if (std::chrono::steady_clock::now() >= deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // SIGTERM and the exit status (SIGKILL after 10 s, then 137).
    int Stop() {
        if (pid_ <= 0) return exitStatus_;
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return exitStatus_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        exitStatus_ = 137;
        return exitStatus_;
    }

  private:
    std::string outputPath_;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace lumivo::test
