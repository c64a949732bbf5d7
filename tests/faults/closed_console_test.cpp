// The agent's console read by a reader that goes away after one line
// (`lumivo-runtime -d | head -1`): the agent goes on.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/temp_folder.h"

namespace lumivo {
namespace {

TEST(ClosedConsoleTest, AReaderThatGoesAwayOnlyCostsTheLines) {
    TempFolder root;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t agent = fork();
    ASSERT_GE(agent, 0);
    if (agent == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("LUMIVO_DEVICE_ROOT", root.path().c_str(), 1);
        setenv("LUMIVO_RUNTIME_DIR", root.path().c_str(), 1);
        setenv("LUMIVO_CONNECT_TO", "::127.0.0.1:9", 1);  // nothing answers: sign-in retries
        execl(AGENT_BINARY, AGENT_BINARY, "-d", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // One line, then the reader is gone; the failed sign-in writes more.
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
    }
    close(out[0]);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int status = 0;
    EXPECT_EQ(waitpid(agent, &status, WNOHANG), 0) << "ended with status " << status;
    kill(agent, SIGKILL);
    waitpid(agent, nullptr, 0);
}

}  // namespace
}  // namespace lumivo
