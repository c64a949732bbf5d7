#include "app/sign_in.h"
#include "base/settings_file.h"

#include <algorithm>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_agent.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* loginReply = R"({"token":"tk"})";

class SettingsTest : public ::testing::Test, protected FakeAgent {
  protected:
    bool SignIn(const std::string& vpn = notSet, const std::string& connections = notSet,
                const std::string& password = notSet) {
        return LoadSettingsAndSignIn(agent, vpn, connections, password);
    }
    // The names in \BOOT, sorted.
    std::vector<std::string> BootFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(files.Root() / "BOOT"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> SentPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : internet.sent) paths.push_back(request.relativePath);
        return paths;
    }

    test::ConsoleCapture console;
};

TEST_F(SettingsTest, SavedFileHasCJsonsFormAndReadsBackTheSameValues) {
    agent.settings = DeviceSettings{42, "p\"w\\", true, "a&b=c", false};
    EXPECT_TRUE(SaveSettings(agent));
    EXPECT_EQ(
        files.Content(settingsFilePath),
        "{\n\t\"id\":\t42,\n\t\"password\":\t\"p\\\"w\\\\\",\n\t\"connectionsEnabled\":\ttrue,"
        "\n\t\"connectionsPassword\":\t\"a&b=c\",\n\t\"vpnEnabled\":\tfalse\n}");
    EXPECT_THAT(BootFiles(), ElementsAre("env.json"));

    agent.settings = DeviceSettings{};
    internet.Script(200, loginReply);
    EXPECT_TRUE(SignIn());
    EXPECT_EQ(agent.settings.id, 42);
    EXPECT_EQ(agent.settings.password, "p\"w\\");
    EXPECT_TRUE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "a&b=c");
    EXPECT_FALSE(agent.settings.vpnEnabled);
    EXPECT_THAT(SentPaths(), ElementsAre("devices/42/login"));
    EXPECT_THAT(console.Lines(),
                ElementsAre("Id: 42", "Password: p\"w\\", "Connections Enabled: 1",
                            "Connections Password: a&b=c", "VPN Enabled: 0", loginReply, "Ok 200"));
}

TEST_F(SettingsTest, AFailedSaveKeepsTheOldFileWholeAndSaysSo) {
    const std::string old = "{\"id\":7,\"password\":\"old\"}";
    for (bool* failure : {&files.failOpenForWrite, &files.failFlush, &files.failReplace}) {
        files.SetContent(settingsFilePath, old);
        *failure = true;
        console.Clear();
        agent.settings = DeviceSettings{8, "new", false, "", false};

        EXPECT_TRUE(SaveSettings(agent));  // callers go on as if it had worked

        EXPECT_EQ(files.Content(settingsFilePath), old);
        EXPECT_THAT(BootFiles(), ElementsAre("env.json"));
        EXPECT_THAT(console.Lines(),
                    ElementsAre("Could not write \\BOOT\\env.json, the previous file is kept"));
        *failure = false;
    }
}

TEST_F(SettingsTest, AFailedSaveWithoutAnEarlierFileSaysThereIsNone) {
    files.failReplace = true;
    agent.settings = DeviceSettings{8, "new", false, "", false};
    SaveSettings(agent);
    EXPECT_THAT(BootFiles(), IsEmpty());
    EXPECT_THAT(console.Lines(),
                ElementsAre("Could not write \\BOOT\\env.json, and there is no previous file"));
}

// A medium that cannot take a new file (read-only, full) at the first start:
// no enrolment, one line per attempt, retried on the sign-in schedule; once
// the medium takes files the device enrols once and keeps what it got.
TEST_F(SettingsTest, NoEnrolmentUntilANewFileCanBeKept) {
    for (bool* fault : {&files.failOpenForWrite, &files.failFlush}) {
        *fault = true;
        system.sleeps.clear();
        internet.sent.clear();
        console.Clear();
        system.onSleep = [&](unsigned) { *fault = system.sleeps.size() < 2; };
        internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
        std::filesystem::remove(files.HostPath(settingsFilePath));

        EXPECT_TRUE(SignIn());

        EXPECT_THAT(system.sleeps, ElementsAre(30000u, 30000u));
        EXPECT_THAT(SentPaths(), ElementsAre("devices"));
        const std::vector<std::string> lines = console.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Could not write a file beside \\BOOT\\env.json, so the device does "
                             "not enrol until it can keep its identity"),
                  2);
        EXPECT_THAT(BootFiles(), ElementsAre("env.json"));  // no probe left behind
        agent.settings = DeviceSettings{};
    }
}

TEST_F(SettingsTest, AFolderThatCannotBeFlushedIsReportedAsSuch) {
    files.notDurable = true;
    agent.settings = DeviceSettings{8, "new", false, "", false};
    SaveSettings(agent);
    EXPECT_THAT(files.Content(settingsFilePath), ::testing::HasSubstr("\"new\""));
    EXPECT_THAT(console.Lines(),
                ElementsAre("Wrote \\BOOT\\env.json, but the folder could not be flushed to the medium"));
}

// A medium whose file system cannot replace a file in one step: the save
// goes in steps, and the power may go between any two of them.
TEST_F(SettingsTest, WithoutOneStepReplaceAPowerLossAtAnyStepLeavesAWholeFile) {
    int copyReads = 0;
    for (int step = 0;; ++step) {
        FakeFiles medium;
        medium.noReplace = true;
        agent.ports.files = &medium;
        medium.SetContent(settingsFilePath, R"({"id":7,"password":"old"})");
        medium.powerLossAfter = step;
        agent.settings = DeviceSettings{8, "new", false, "", false};
        SaveSettings(agent);
        const bool finished = medium.powerLossAfter > 0;
        medium.powerLossAfter = -1;
        copyReads += !medium.Exists(settingsFilePath) ? 1 : 0;

        agent.settings = DeviceSettings{};
        internet.sent.clear();
        internet.Script(200, loginReply);
        EXPECT_TRUE(SignIn());
        EXPECT_THAT(SentPaths(), ::testing::AnyOf(ElementsAre("devices/7/login"),
                                                  ElementsAre("devices/8/login")))
            << "power lost after " << step << " changes";
        // The next save, with power, tidies up whatever was left.
        SaveSettings(agent);
        EXPECT_FALSE(medium.Exists(std::string(settingsFilePath) + ".old"));
        if (finished) {
            EXPECT_THAT(SentPaths(), ElementsAre("devices/8/login"));
            break;
        }
        ASSERT_LT(step, 20);
    }
    EXPECT_GE(copyReads, 1);  // one moment had only the copy
}

TEST_F(SettingsTest, SignInEnrolsUnlessTheFileHoldsAnIdAndAPassword) {
    struct Case {
        const char* content;  // null: no file
        const char* expectedPath;
    };
    const Case cases[] = {
        {nullptr, "devices"},
        {"not json", "devices"},
        {R"({"id":0,"password":"x"})", "devices"},
        {R"({"password":"x"})", "devices"},
        {R"({"id":"7","password":"x"})", "devices"},
        {R"({"id":7,"password":""})", "devices"},
        {R"({"id":7,"password":5})", "devices"},
        {R"({"id":-3,"password":"x"})", "devices/-3/login"},
        {R"({"id":-2147483648,"password":"x"})", "devices/-2147483648/login"},
        {R"({"id":2147483648,"password":"x"})", "devices"},
        {R"({"id":1e12,"password":"x"})", "devices"},
        {R"({"id":1.9,"password":"x"})", "devices"},
    };
    for (const Case& c : cases) {
        FakeFiles fresh;
        agent.ports.files = &fresh;
        if (c.content != nullptr) fresh.SetContent(settingsFilePath, c.content);
        agent.settings = DeviceSettings{};
        internet.sent.clear();
        internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
        EXPECT_TRUE(SignIn());
        EXPECT_THAT(SentPaths(), ElementsAre(c.expectedPath)) << (c.content ? c.content : "none");
    }
}

TEST_F(SettingsTest, AnUnusableFileIsKeptAsBadBeforeEnrolling) {
    const std::string tooLong = R"({"id":7,"password":"x"})" + std::string(64 * 1024, ' ');
    for (const std::string& content :
         {std::string("not json"), std::string(R"({"id":0,"password":"x"})"),
          std::string(R"({"id":1e12,"password":"x"})"), std::string(R"([7,"x"])"), tooLong}) {
        FakeFiles fresh;
        agent.ports.files = &fresh;
        agent.settings = DeviceSettings{};
        fresh.SetContent(std::string(settingsFilePath) + ".bad", "an older one");
        fresh.SetContent(settingsFilePath, content);
        console.Clear();
        internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
        EXPECT_TRUE(SignIn());
        EXPECT_EQ(fresh.Content(std::string(settingsFilePath) + ".bad"), content);
        EXPECT_THAT(fresh.Content(settingsFilePath), ::testing::HasSubstr("\"issued\""));
        EXPECT_THAT(console.Lines(),
                    ::testing::Contains("Kept the unusable settings file as \\BOOT\\env.json.bad"));
    }
    // Read as a whole up to 64 KiB.
    agent.ports.files = &files;
    internet.sent.clear();
    files.SetContent(settingsFilePath, R"({"id":7,"password":"x"})" + std::string(65000, ' '));
    internet.Script(200, loginReply);
    EXPECT_TRUE(SignIn());
    EXPECT_THAT(SentPaths(), ElementsAre("devices/7/login"));
}

TEST_F(SettingsTest, MissingFileIsReportedAndNotJsonIsSilent) {
    internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
    EXPECT_TRUE(SignIn());
    EXPECT_EQ(console.Lines().at(0), "Some error occured opening \\BOOT\\env.json");
    EXPECT_EQ(console.Lines().size(), 3u);  // no settings lines without a file
    EXPECT_THAT(BootFiles(), ElementsAre("env.json"));
    EXPECT_THAT(files.Content(settingsFilePath), ::testing::HasSubstr("\"issued\""));

    files.SetContent(settingsFilePath, "{\"id\":");
    console.Clear();
    internet.Script(200, R"({"id":10,"password":"again","token":"t"})");
    EXPECT_TRUE(SignIn());
    EXPECT_THAT(console.Lines(), ::testing::IsSupersetOf({"Id: 0", "Password: "}));
    EXPECT_EQ(agent.settings.id, 10);
}

TEST_F(SettingsTest, FlagsAreTrueOnlyForTheLiteralTrue) {
    files.SetContent(settingsFilePath,
                     R"({"id":7,"password":"x","connectionsEnabled":"true","vpnEnabled":1})");
    internet.Script(200, loginReply);
    EXPECT_TRUE(SignIn());
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_FALSE(agent.settings.vpnEnabled);
}

TEST_F(SettingsTest, OverridesChangeOnlyTheSettingsInMemory) {
    const std::string stored =
        R"({"id":7,"password":"x","connectionsEnabled":false,"connectionsPassword":"old","vpnEnabled":true})";
    files.SetContent(settingsFilePath, stored);
    internet.Script(200, loginReply);
    EXPECT_TRUE(SignIn("false", "", ""));  // -n=false -c -p
    EXPECT_FALSE(agent.settings.vpnEnabled);
    EXPECT_TRUE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "");
    EXPECT_EQ(files.Content(settingsFilePath), stored);

    internet.Script(200, loginReply);
    EXPECT_TRUE(SignIn("0", "false", "NOT_SET"));
    EXPECT_TRUE(agent.settings.vpnEnabled);
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "old");
}

TEST_F(SettingsTest, EnrolmentDropsTheOverridesInMemoryAndInTheFile) {
    internet.Script(200, R"({"id":9,"password":"issued","token":"t"})");
    EXPECT_TRUE(SignIn("", "", "secret"));
    EXPECT_FALSE(agent.settings.vpnEnabled);
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "");
    EXPECT_THAT(files.Content(settingsFilePath),
                ::testing::HasSubstr("\"connectionsEnabled\":\tfalse"));
}

TEST_F(SettingsTest, FailedLoginIsRetriedEvery30sReadingTheFileAgainAndNeverEnrols) {
    files.SetContent(settingsFilePath, R"({"id":7,"password":"first"})");
    internet.Script(404, R"({"message":"unknown device"})");
    internet.ScriptFailure(kInternetCannotConnect);
    internet.Script(200, loginReply);
    system.onSleep = [this](unsigned) {
        if (system.sleeps.size() == 2)
            files.SetContent(settingsFilePath, R"({"id":7,"password":"second"})");
    };

    EXPECT_TRUE(SignIn());

    EXPECT_THAT(system.sleeps, ElementsAre(30000u, 30000u));
    EXPECT_THAT(SentPaths(), ElementsAre("devices/7/login", "devices/7/login", "devices/7/login"));
    EXPECT_EQ(internet.sent.back().body, "secretKey=v61947.02&password=second&version=1.1.1");
    EXPECT_EQ(agent.accessToken, "tk");
    // The settings lines come again with every attempt.
    int idLines = 0;
    for (const std::string& line : console.Lines()) idLines += line == "Id: 7";
    EXPECT_EQ(idLines, 3);
}

TEST_F(SettingsTest, WithoutAFileAnEarlierAttemptsIdentityIsKept) {
    // A file that vanishes between attempts leaves what the last read gave.
    files.SetContent(settingsFilePath, R"({"id":7,"password":"x"})");
    internet.Script(500, "oops");
    internet.Script(200, loginReply);
    system.onSleep = [this](unsigned) { files.Remove(settingsFilePath); };
    EXPECT_TRUE(SignIn());
    EXPECT_THAT(SentPaths(), ElementsAre("devices/7/login", "devices/7/login"));
    EXPECT_THAT(console.Lines(),
                ::testing::Contains("Some error occured opening \\BOOT\\env.json"));
}

}  // namespace
}  // namespace lumivo
