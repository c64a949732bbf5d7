#include "app/agent_app.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_agent.h"

namespace lumivo {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class AgentAppTest : public ::testing::Test, protected FakeAgent {
  protected:
    AgentAppTest() {
        agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");
        files.SetContent(settingsFilePath, R"({"id":7,"password":"pw"})");
        internet.defaultReply.status = 200;
        internet.defaultReply.body = R"({"token":"tk"})";
    }
    bool Run(const std::wstring& commandLine) {
        system.commandLine = commandLine;
        system.openMutexes.clear();  // each run stands for a new process
        CAgentApp app(agent);
        bool result = app.RunAgent();
        connectionTimer = app.connectionTimerId;
        heartBeatTimer = app.heartBeatTimerId;
        return result;
    }
    std::vector<std::string> Requests() const { return internet.Requests(); }

    test::ConsoleCapture console;
    TimerId connectionTimer = 0;
    TimerId heartBeatTimer = 0;
};

TEST_F(AgentAppTest, VersionWinsOverHelpAndNeitherTakesTheMutex) {
    EXPECT_FALSE(Run(L"lumivo.exe -v -h"));
    EXPECT_EQ(console.Text(), "1.1.1\n");
    EXPECT_THAT(system.mutexNames, IsEmpty());

    console.Clear();
    EXPECT_FALSE(Run(L"lumivo.exe -v=false -h"));
    EXPECT_EQ(console.Text(),
              "Usage of lumivo.exe\n"
              "  -c\tEnable the connection to the device. Default: false\n"
              "  -d\tStart the software in debug mode. Default: false\n"
              "  -g\tStart with the GUI visible. Default: false\n"
              "  -n\tEnable the VPN on the device. Default: false\n"
              "  -p string\n"
              "    \tConfigure a password to connect to the device. Default: (empty)\n"
              "  -s\tSave these argument as default. Default: false\n"
              "  -v\tPrint the software version and quit\n");
    EXPECT_THAT(system.mutexNames, IsEmpty());
    EXPECT_THAT(internet.sent, IsEmpty());
}

TEST_F(AgentAppTest, ASecondCopyStopsAndForwardsShowGui) {
    WindowHandle first = system.AddWindow(L"Lumivo Runtime");
    system.mutexExists = true;
    EXPECT_FALSE(Run(L"lumivo.exe -g -d"));
    EXPECT_EQ(console.Text(), "App already running...\n");
    EXPECT_THAT(system.mutexNames, ElementsAre(L"net.corvane.r37425.05"));
    EXPECT_TRUE(system.mutexInitialOwner.at(0));
    EXPECT_EQ(system.closedHandles.size(), 1u);
    ASSERT_EQ(system.sent.size(), 1u);
    EXPECT_EQ(system.sent[0].window, first);
    EXPECT_EQ(system.sent[0].message, WM_SHOWGUI);
    EXPECT_EQ(system.sent[0].wParam, 0u);
    EXPECT_EQ(system.sent[0].lParam, 0);
    EXPECT_THAT(internet.sent, IsEmpty());

    // Without -g nothing is sent; a mutex that cannot be made counts as taken.
    system.sent.clear();
    system.mutexExists = false;
    system.mutexFails = true;
    console.Clear();
    EXPECT_FALSE(Run(L"lumivo.exe"));
    EXPECT_EQ(console.Text(), "App already running...\n");
    EXPECT_THAT(system.sent, IsEmpty());
    EXPECT_THAT(system.foundTitles, ElementsAre(L"Lumivo Runtime"));  // from the first run only

    // A guard the platform refused (it wrote why) is no other copy.
    system.mutexFailure = ERROR_NO_INSTANCE_GUARD;
    console.Clear();
    EXPECT_FALSE(Run(L"lumivo.exe -d"));
    EXPECT_EQ(console.Text(), "");
    EXPECT_THAT(internet.sent, IsEmpty());
}

TEST_F(AgentAppTest, OutputIsSilencedAfterTheMutexUnlessDebug) {
    EXPECT_FALSE(Run(L"lumivo.exe"));
    EXPECT_EQ(console.Text(), "");
    EXPECT_THAT(Requests(), Contains("POST devices/7/login"));

    console.Clear();
    SetDebugOutput(true);
    EXPECT_FALSE(Run(L"lumivo.exe -d=false"));
    EXPECT_EQ(console.Text(), "");

    SetDebugOutput(true);
    EXPECT_FALSE(Run(L"lumivo.exe -d"));
    EXPECT_THAT(console.Lines(), Contains("Id: 7"));
    EXPECT_THAT(console.Lines(), Contains("VPN disconnected successfully"));
}

TEST_F(AgentAppTest, RunSignsInStartsBothTimersRunsTheLoopAndStopsTheVpn) {
    int ticks = 0;
    system.onIdle = [&] {
        if (ticks++ == 0) system.PostTickOfEveryTimer();
    };
    EXPECT_FALSE(Run(L"lumivo.exe -d -c -p=pw"));

    ASSERT_EQ(system.timers.size(), 2u);
    EXPECT_EQ(system.timers[0].elapseMs, 5000u);
    EXPECT_EQ(system.timers[1].elapseMs, 5000u);
    EXPECT_EQ(connectionTimer, system.timers[0].id);
    EXPECT_EQ(heartBeatTimer, system.timers[1].id);
    EXPECT_THAT(system.killedTimers, ElementsAre(connectionTimer, heartBeatTimer));
    // Sign-in, one connection tick (poll), one heart-beat, then the stop notice.
    EXPECT_THAT(Requests(),
                ElementsAre("POST devices/7/login", "POST connections/check-requests",
                            "GET devices/7/heart-beat", "DELETE connections/disconnect-all"));
    EXPECT_EQ(console.Lines().back(), "VPN disconnected successfully");
    EXPECT_EQ(agent.mainDialog, nullptr);  // the application object is gone
}

TEST_F(AgentAppTest, SaveOptionWritesTheOverriddenSettingsAfterSignIn) {
    EXPECT_FALSE(Run(L"lumivo.exe -n -p=\"new secret\" -s"));
    EXPECT_EQ(files.Content(settingsFilePath),
              "{\n\t\"id\":\t7,\n\t\"password\":\t\"pw\",\n\t\"connectionsEnabled\":\tfalse,"
              "\n\t\"connectionsPassword\":\t\"new secret\",\n\t\"vpnEnabled\":\ttrue\n}");
}

TEST_F(AgentAppTest, NoDialogMeansOneMessageBoxAndNoTimers) {
    ui.failDialogs = true;
    EXPECT_FALSE(Run(L"lumivo.exe -g"));
    ASSERT_EQ(system.boxes.size(), 1u);
    EXPECT_EQ(system.boxes[0].text, L"Error creating Dialog");
    EXPECT_EQ(system.boxes[0].type, MB_OK);
    EXPECT_THAT(system.timers, IsEmpty());
    EXPECT_EQ(system.getMessageCalls, 0);
}

}  // namespace
}  // namespace lumivo
