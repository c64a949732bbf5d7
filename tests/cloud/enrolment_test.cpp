#include "cloud/enrolment.h"

#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/sign_in.h"
#include "base/constants.h"
#include "cloud/heart_beat.h"
#include "fakes/console_capture.h"
#include "fakes/fake_agent.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;

class CloudIdentityTest : public ::testing::Test, protected FakeAgent {
  protected:
    const FakeInternet::SentRequest& OnlyRequest() {
        EXPECT_EQ(internet.sent.size(), 1u);
        return internet.sent.at(0);
    }

    test::ConsoleCapture console;
};

TEST_F(CloudIdentityTest, EnrolmentStoresTheIssuedIdentityResetsConnectionsAndSaves) {
    agent.settings.connectionsEnabled = true;
    agent.settings.connectionsPassword = "from -p";
    agent.settings.vpnEnabled = true;
    internet.Script(200, R"({"id":42,"password":"pw\"1","token":"tk","extra":1})");

    EXPECT_TRUE(EnrolDevice(agent));

    const auto& sent = OnlyRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.relativePath, "devices");
    EXPECT_EQ(sent.body, "secretKey=v61947.02&typeCode=wince&version=1.1.1");
    EXPECT_EQ(sent.headers, "Content-Type: application/x-www-form-urlencoded\r\n");
    EXPECT_THAT(console.Lines(),
                ElementsAre(R"({"id":42,"password":"pw\"1","token":"tk","extra":1})", "Ok 200"));
    EXPECT_EQ(agent.settings.id, 42);
    EXPECT_EQ(agent.settings.password, "pw\"1");
    EXPECT_EQ(agent.accessToken, "tk");
    EXPECT_FALSE(agent.settings.connectionsEnabled);
    EXPECT_EQ(agent.settings.connectionsPassword, "");
    EXPECT_FALSE(agent.settings.vpnEnabled);
    EXPECT_EQ(files.Content(settingsFilePath),
              "{\n\t\"id\":\t42,\n\t\"password\":\t\"pw\\\"1\",\n\t\"connectionsEnabled\":\tfalse,"
              "\n\t\"connectionsPassword\":\t\"\",\n\t\"vpnEnabled\":\tfalse\n}");
}

TEST_F(CloudIdentityTest, EnrolmentWithoutPasswordStoresItEmpty) {
    internet.Script(200, R"({"id":7,"password":5,"token":"t"})");
    EXPECT_TRUE(EnrolDevice(agent));
    EXPECT_EQ(agent.settings.id, 7);
    EXPECT_EQ(agent.settings.password, "");
    EXPECT_EQ(agent.accessToken, "t");
    EXPECT_TRUE(files.Exists(settingsFilePath));
}

// Without an id to log in with, or with one that names another device (out
// of range or not whole), or without a token that fits in a header, the
// enrolment fails and is tried again.
TEST_F(CloudIdentityTest, EnrolmentReplyWithoutAUsableIdOrTokenIsAFailureThatStoresNothing) {
    const std::string noId = "Error during registration of the device: the reply holds no device id";
    const std::string noToken =
        "Error during registration of the device: the reply holds no usable token";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"password":"p","token":"t"})", noId},
        {R"({"id":"42","token":"t"})", noId},
        {R"({"id":0,"token":"t"})", noId},
        {R"({"id":1e12,"password":"p","token":"t"})", noId},
        {R"({"id":-2147483649,"password":"p","token":"t"})", noId},
        {R"({"id":1.9,"password":"p","token":"t"})", noId},
        {"not json", noId},
        {R"({"id":7,"password":"p"})", noToken},
        {R"({"id":7,"password":"p","token":"abc\r\nX-Injected: yes"})", noToken},
    };
    for (const auto& [body, line] : cases) {
        SCOPED_TRACE(body);
        agent.settings.connectionsEnabled = true;
        internet.Script(200, body);
        console.Clear();
        EXPECT_FALSE(EnrolDevice(agent));
        EXPECT_THAT(console.Lines(), ElementsAre(body, "Ok 200", line));
        EXPECT_EQ(agent.settings.id, 0);
        EXPECT_EQ(agent.accessToken, "");
        EXPECT_TRUE(agent.settings.connectionsEnabled);
        EXPECT_FALSE(files.Exists(settingsFilePath));
    }
}

TEST_F(CloudIdentityTest, RefusedEnrolmentLogsTheServiceMessageAndStoresNothing) {
    internet.Script(404, R"({"message":"Wrong secret"})");
    EXPECT_FALSE(EnrolDevice(agent));
    EXPECT_THAT(console.Lines(), ElementsAre(R"({"message":"Wrong secret"})",
                                             "Error during registration of the device", "Error 404",
                                             "Wrong secret"));
    EXPECT_EQ(agent.settings.id, 0);
    EXPECT_FALSE(files.Exists(settingsFilePath));
}

TEST_F(CloudIdentityTest, EnrolmentWithoutAnAnswerReportsANetworkError) {
    internet.ScriptFailure(kInternetCannotConnect);
    EXPECT_FALSE(EnrolDevice(agent));
    EXPECT_THAT(console.Lines(),
                ElementsAre("12029", "Could not read data",
                            "Error during registration of the device", "Network error"));
}

TEST_F(CloudIdentityTest, LoginPostsTheStoredIdentityUnencodedAndKeepsTheToken) {
    agent.settings.id = 42;
    agent.settings.password = "a&b=c";
    internet.Script(200, R"({"token":"new"})");

    EXPECT_TRUE(LoginDevice(agent, 42, "a&b=c"));

    const auto& sent = OnlyRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.relativePath, "devices/42/login");
    EXPECT_EQ(sent.body, "secretKey=v61947.02&password=a&b=c&version=1.1.1");
    EXPECT_THAT(console.Lines(), ElementsAre(R"({"token":"new"})", "Ok 200"));
    EXPECT_EQ(agent.accessToken, "new");
    EXPECT_EQ(agent.settings.id, 42);
    EXPECT_FALSE(files.Exists(settingsFilePath));  // login saves nothing
}

// A token is one header value of every later request: only visible ASCII
// (33 to 126) is taken. Anything else fails the login, which sign-in retries.
TEST_F(CloudIdentityTest, LoginTakesOnlyATokenOfVisibleAsciiAndRetriesOtherwise) {
    for (const char* token : {"!", "~", "a-Z.0_9"}) {
        internet.Script(200, std::string(R"({"token":")") + token + "\"}");
        EXPECT_TRUE(LoginDevice(agent, 1, "p"));
        EXPECT_EQ(agent.accessToken, token);
    }
    for (const char* body : {"{}", R"({"token":""})", R"({"token":7})", R"({"token":"a b"})",
                             R"({"token":"a\tb"})", R"({"token":"abc\r\nHost: evil.example"})",
                             R"({"token":"t"})", R"({"token":"té"})"}) {
        SCOPED_TRACE(body);
        agent.accessToken = "old";
        internet.Script(200, body);
        console.Clear();
        EXPECT_FALSE(LoginDevice(agent, 1, "p"));
        EXPECT_THAT(console.Lines(),
                    ElementsAre(body, "Ok 200",
                                "Error during login of the device: the reply holds no usable "
                                "token"));
        EXPECT_EQ(agent.accessToken, "old");
    }

    internet.sent.clear();
    system.sleeps.clear();
    agent.accessToken.clear();
    files.SetContent(settingsFilePath, R"({"id":42,"password":"pw"})");
    internet.Script(200, R"({"token":"x\r\nX-Injected: yes"})");
    internet.Script(200, R"({"token":"t2"})");
    EXPECT_TRUE(LoadSettingsAndSignIn(agent, notSet, notSet, notSet));
    EXPECT_EQ(internet.sent.size(), 2u);
    EXPECT_THAT(system.sleeps, ElementsAre(30000u));
    EXPECT_EQ(agent.accessToken, "t2");
}

TEST_F(CloudIdentityTest, RefusedLoginKeepsTheTokenAndSignInRetriesALogin) {
    files.SetContent(settingsFilePath, R"({"id":42,"password":"pw"})");
    internet.Script(404, R"({"message":"Unknown device"})");
    internet.Script(200, R"({"token":"t2"})");

    EXPECT_TRUE(LoadSettingsAndSignIn(agent, notSet, notSet, notSet));

    ASSERT_EQ(internet.sent.size(), 2u);
    for (const auto& sent : internet.sent) EXPECT_EQ(sent.relativePath, "devices/42/login");
    EXPECT_THAT(system.sleeps, ElementsAre(30000u));
    std::vector<std::string> lines = console.Lines();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 5, lines.begin() + 9),
                ElementsAre(R"({"message":"Unknown device"})", "Error during login of the device",
                            "Error 404", "Unknown device"));
    EXPECT_EQ(agent.accessToken, "t2");
}

TEST_F(CloudIdentityTest, HeartBeatIsABareGetWhoseOutcomeIsIgnored) {
    agent.settings.id = 42;
    agent.accessToken = "tok";
    internet.Script(401, R"({"message":"Token expired"})");
    internet.ScriptFailure(kInternetTimeout);

    OnHeartBeatTimer(agent);
    OnHeartBeatTimer(agent);

    ASSERT_EQ(internet.sent.size(), 2u);
    for (const auto& sent : internet.sent) {
        EXPECT_EQ(sent.method, "GET");
        EXPECT_EQ(sent.relativePath, "devices/42/heart-beat");
        EXPECT_EQ(sent.headers,
                  "x-access-token: tok\r\nContent-Type: application/x-www-form-urlencoded\r\n");
        EXPECT_EQ(sent.body, "");
    }
    EXPECT_THAT(console.Lines(),
                ElementsAre(R"({"message":"Token expired"})", "12002", "Could not read data"));
    EXPECT_EQ(agent.accessToken, "tok");
}

}  // namespace
}  // namespace lumivo
