// The agent binary against devcloud: enrolment on a first start, the settings
// file, heart-beats every 5 s, login on the next start, and a refused login
// that is retried as a login.

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/text.h"
#include "cloud/child_process.h"
#include "devcloud/devcloud_fixture.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

class CloudEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(devcloud.Start()) << "devcloud did not start";
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivo-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        std::filesystem::create_directories(folder / "device");
        std::filesystem::create_directories(folder / "run");
    }
    void TearDown() override {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
    // `obeyModes`: as root, without the capabilities that override a
    // folder's mode, so that a read-only folder is one for the agent too.
    std::unique_ptr<test::ChildProcess> StartAgent(bool obeyModes = false) {
        std::string binary = AGENT_BINARY;
        std::vector<std::string> args{"-d"};
        if (obeyModes && geteuid() == 0) {
            args.insert(args.begin(), {"--bounding-set=-dac_override,-dac_read_search", binary});
            binary = "/usr/bin/setpriv";
        }
        auto agent = std::make_unique<test::ChildProcess>(
            binary, args,
            std::vector<std::string>{
                "LUMIVO_CONNECT_TO=localhost:8443:127.0.0.1:" + std::to_string(devcloud.port()),
                "LUMIVO_DEVICE_ROOT=" + (folder / "device").string(),
                "LUMIVO_RUNTIME_DIR=" + (folder / "run").string()});
        EXPECT_TRUE(agent->Started());
        return agent;
    }
    std::filesystem::path SettingsFile() const { return folder / "device" / "BOOT" / "env.json"; }
    std::string ReadSettings() const {
        std::ifstream in(SettingsFile(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string Header(const LoggedCall& call, std::size_t index) {
        if (index >= call.headers.size()) return std::string();
        return call.headers[index].first + ": " + call.headers[index].second;
    }

    DevCloud devcloud;
    std::filesystem::path folder;
};

TEST_F(CloudEndToEndTest, FirstStartEnrolsAndBeatsEveryFiveSecondsNextStartLogsIn) {
    auto first = StartAgent();
    int ok = first->WaitForLine("Ok 200", 15);
    ASSERT_GE(ok, 1) << testing::PrintToString(first->Texts());
    // The line before "Ok 200" is the enrolment reply.
    JsonTree enrolled(ParseJson(first->Lines()[ok - 1].text));
    std::int32_t id = 0;
    std::string password, token;
    ASSERT_TRUE(GetJsonInt(enrolled.get(), "id", id));
    GetJsonString(enrolled.get(), "password", password);
    GetJsonString(enrolled.get(), "token", token);

    // Two heart-beats, each shown by its reply.
    int beat1 = first->WaitForLine("{}", 8, ok + 1);
    int beat2 = first->WaitForLine("{}", 8, beat1 + 1);
    ASSERT_GT(beat1, ok);
    ASSERT_GT(beat2, beat1);
    const double interval = Seconds(first->Lines()[beat2].at - first->Lines()[beat1].at);
    EXPECT_GT(interval, 4.5);
    EXPECT_LT(interval, 6.5);
    EXPECT_EQ(first->Stop(), 0);

    EXPECT_EQ(ReadSettings(), "{\n\t\"id\":\t" + IntToText(id) + ",\n\t\"password\":\t\"" +
                                  password +
                                  "\",\n\t\"connectionsEnabled\":\tfalse,\n\t"
                                  "\"connectionsPassword\":\t\"\",\n\t\"vpnEnabled\":\tfalse\n}");

    std::vector<LoggedCall> log = devcloud.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/api/devices");
    EXPECT_EQ(log[0].body, "secretKey=v61947.02&typeCode=wince&version=1.1.1");
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(log[i].method, "GET");
        EXPECT_EQ(log[i].path, "/api/devices/" + IntToText(id) + "/heart-beat");
        EXPECT_EQ(log[i].body, "");
        EXPECT_EQ(Header(log[i], 0), "Host: localhost:8443");
        EXPECT_EQ(Header(log[i], 1), "x-access-token: " + token);
        EXPECT_EQ(Header(log[i], 2), "Content-Type: application/x-www-form-urlencoded");
    }

    devcloud.ClearLog();
    auto second = StartAgent();
    const int loggedIn = second->WaitForLine("Ok 200", 15);
    ASSERT_GE(loggedIn, 0) << testing::PrintToString(second->Texts());
    // Stopped once it runs its loop (a beat came), so that shutdown runs.
    EXPECT_GT(second->WaitForLine("{}", 8, loggedIn + 1), loggedIn);
    EXPECT_EQ(second->Stop(), 0);
    std::vector<std::string> texts = second->Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Id: " + IntToText(id));
    EXPECT_EQ(texts[1], "Password: " + password);
    log = devcloud.Log();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/api/devices/" + IntToText(id) + "/login");
    EXPECT_EQ(log[0].body, "secretKey=v61947.02&password=" + password + "&version=1.1.1");
    for (const LoggedCall& entry : log) EXPECT_NE(entry.path, "/api/devices");
}

// A runtime folder that others can write is neither used nor changed: the
// agent says why (on standard error), not "App already running...", and ends
// with status 1, as it never ran.
TEST_F(CloudEndToEndTest, RuntimeFolderOthersCanWriteIsRefusedAndLeftAsItIs) {
    std::filesystem::permissions(folder / "run", std::filesystem::perms::all);
    auto agent = StartAgent();
    usleep(1500000);
    EXPECT_EQ(agent->Stop(), 1);
    EXPECT_TRUE(agent->Texts().empty()) << testing::PrintToString(agent->Texts());
    EXPECT_TRUE(devcloud.Log().empty());
    EXPECT_EQ(std::filesystem::status(folder / "run").permissions(), std::filesystem::perms::all);
    EXPECT_TRUE(std::filesystem::is_empty(folder / "run"));
}

// Waits for one 30 s sign-in retry.
TEST_F(CloudEndToEndTest, ReadOnlyBootFolderSendsNoEnrolmentUntilItIsWritable) {
    const std::filesystem::path boot = folder / "device" / "BOOT";
    std::filesystem::create_directories(boot);
    std::filesystem::permissions(boot, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
    auto agent = StartAgent(true);
    const int refused = agent->WaitForLine(
        "Could not write a file beside \\BOOT\\env.json, so the device does not enrol until it "
        "can keep its identity",
        15);
    ASSERT_GE(refused, 1) << testing::PrintToString(agent->Texts());
    EXPECT_EQ(agent->Texts()[refused - 1], "Some error occured opening \\BOOT\\env.json");
    usleep(500000);
    EXPECT_TRUE(devcloud.Log().empty());

    std::filesystem::permissions(boot, std::filesystem::perms::owner_all);
    const int ok = agent->WaitForLine("Ok 200", 40, refused);
    ASSERT_GT(ok, refused) << testing::PrintToString(agent->Texts());
    EXPECT_GT(Seconds(agent->Lines()[ok].at - agent->Lines()[refused].at), 29.5);
    EXPECT_GT(agent->WaitForLine("{}", 8, ok + 1), ok);
    EXPECT_EQ(agent->Stop(), 0);
    int enrolments = 0;
    for (const LoggedCall& entry : devcloud.Log()) enrolments += entry.path == "/api/devices";
    EXPECT_EQ(enrolments, 1);
    EXPECT_THAT(ReadSettings(), ::testing::HasSubstr("\"password\""));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(boot),
                            std::filesystem::directory_iterator()),
              1);
}

// Waits for one 30 s sign-in retry.
TEST_F(CloudEndToEndTest, RefusedLoginIsLoggedAndRetriedAsALogin) {
    // A device that devcloud knows, with a login that is refused once.
    {
        auto enrol = StartAgent();
        ASSERT_GE(enrol->WaitForLine("Ok 200", 15), 0);
        for (int i = 0; i < 100 && !std::filesystem::exists(SettingsFile()); ++i) usleep(100000);
    }
    JsonTree settings(ParseJson(ReadSettings()));
    std::int32_t id = 0;
    ASSERT_TRUE(GetJsonInt(settings.get(), "id", id));
    const std::string loginPath = "/api/devices/" + IntToText(id) + "/login";
    FaultSpec refusal;
    refusal.path = loginPath;
    refusal.status = 404;
    refusal.body = R"({"message":"Device unknown"})";
    ASSERT_TRUE(devcloud.AddFault(refusal));
    devcloud.ClearLog();

    auto agent = StartAgent();
    int refused = agent->WaitForLine("Error during login of the device", 15);
    ASSERT_GE(refused, 1) << testing::PrintToString(agent->Texts());
    ASSERT_EQ(agent->WaitForLine("Device unknown", 5, refused), refused + 2);
    std::vector<std::string> texts = agent->Texts();
    EXPECT_THAT(std::vector<std::string>(texts.begin() + refused - 1, texts.begin() + refused + 3),
                ElementsAre(R"({"message":"Device unknown"})", "Error during login of the device",
                            "Error 404", "Device unknown"));

    const int ok = agent->WaitForLine("Ok 200", 40, refused);
    ASSERT_GT(ok, refused) << testing::PrintToString(agent->Texts());
    const double pause = Seconds(agent->Lines()[ok].at - agent->Lines()[refused].at);
    EXPECT_GT(pause, 29.5);
    EXPECT_LT(pause, 35.0);

    std::vector<LoggedCall> log = devcloud.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].path, loginPath);
    EXPECT_EQ(log[1].path, loginPath);
    for (const LoggedCall& entry : log) EXPECT_NE(entry.path, "/api/devices");
}

}  // namespace
}  // namespace lumivo
