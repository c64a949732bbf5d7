// The connection timer: the VPN watch, the poll and the answers to it.

#include "connections/polling.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "base/text.h"
#include "connections_fixture.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kVpnData =
    "{\\\"url\\\":\\\"vpn.example.net\\\",\\\"username\\\":\\\"dev\\\",\\\"password\\\":\\\"pw\\\","
    "\\\"domain\\\":\\\"\\\",\\\"preSharedKey\\\":\\\"psk\\\"}";

std::string Request(const std::string& id, const std::string& status, const std::string& type,
                    const std::string& data = kVpnData) {
    return "{\"id\":" + id + ",\"status\":\"" + status + "\",\"type\":\"" + type +
           "\",\"data\":\"" + data + "\"}";
}
std::string List(const std::vector<std::string>& requests) {
    std::string text = "{\"data\":[";
    for (std::size_t i = 0; i < requests.size(); ++i) text += (i == 0 ? "" : ",") + requests[i];
    return text + "]}";
}

class PollingTest : public ConnectionsTest {
  protected:
    PollingTest() {
        agent.settings.connectionsEnabled = true;
        agent.settings.vpnEnabled = true;
        agent.settings.connectionsPassword = "cp";
        ras.afterDial = [this] {
            ipHelper.adapters.push_back(
                MakeAdapter("L2TP Line 0", {{"10.8.0.6", "255.255.255.255"}}));
        };
    }
    // The PUT answers sent, as "path body".
    std::vector<std::string> Answers() const {
        std::vector<std::string> answers;
        for (const auto& sent : internet.sent) {
            if (sent.method == "PUT") answers.push_back(sent.relativePath + " " + sent.body);
        }
        return answers;
    }
    bool WasReset() const {
        for (const auto& sent : internet.sent) {
            if (sent.method == "DELETE" && sent.relativePath == "connections/disconnect-all")
                return true;
        }
        return false;
    }
};

// ---- The timer tick ----

TEST_F(PollingTest, DisabledConnectionsSendNoPoll) {
    agent.settings.connectionsEnabled = false;
    OnConnectionTimer(agent);
    EXPECT_THAT(internet.sent, IsEmpty());
    // A VPN that is up stays up as long as its adapter is there...
    VpnUp();
    OnConnectionTimer(agent);
    EXPECT_THAT(internet.sent, IsEmpty());
    EXPECT_TRUE(agent.vpnConnected);
    // ...and is reset when the adapter goes.
    VpnAdapterGone();
    OnConnectionTimer(agent);
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_THAT(ras.connections, IsEmpty());
    EXPECT_THAT(dialog.events, ElementsAre("icon:0", "address:"));
}

TEST_F(PollingTest, NoAdapterListCountsAsAdapterGoneAndThePollStillRuns) {
    VpnUp();
    ipHelper.failWith = 232;
    internet.Script(200, List({Request("1", "vpn-created", "vpn")}));
    OnConnectionTimer(agent);
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all",
                                        "POST connections/check-requests"));
    EXPECT_FALSE(agent.vpnConnected);
}

TEST_F(PollingTest, ThePollSendsThePasswordAsStored) {
    agent.settings.connectionsPassword = "a&b=c d";
    internet.Script(200, "{\"data\":[]}");
    OnConnectionTimer(agent);
    ASSERT_THAT(Requests(), ElementsAre("POST connections/check-requests"));
    EXPECT_EQ(internet.sent[0].body, "password=a&b=c d");
    EXPECT_THAT(Lines(), ElementsAre("Ok 200"));
}

// ---- Poll outcomes with a VPN up ----

TEST_F(PollingTest, FailedPollLeavesTheVpnUp) {
    VpnUp();
    internet.ScriptFailure(12029);
    internet.Script(500, "{\"message\":\"boom\"}");
    CheckConnectionRequests(agent);
    CheckConnectionRequests(agent);
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_FALSE(WasReset());
    EXPECT_THAT(ras.hungUp, IsEmpty());
    std::vector<std::string> lines = Lines();
    EXPECT_THAT(lines, ::testing::Contains("Network error"));
    EXPECT_THAT(lines, ::testing::Contains("Error 500"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Error checking requests"), 2);
}

TEST_F(PollingTest, RepliesWithoutVpnCreatedResetTheVpn) {
    for (const char* reply :
         {"{\"data\":[]}", "not json", "{}", "{\"data\":{}}", "{\"data\":[1,\"x\"]}"}) {
        SCOPED_TRACE(reply);
        ras.connections.clear();
        internet.sent.clear();
        ipHelper.adapters.resize(1);
        dialog.events.clear();
        VpnUp();
        internet.Script(200, reply);
        CheckConnectionRequests(agent);
        EXPECT_FALSE(agent.vpnConnected);
        EXPECT_EQ(agent.vpnIpAddress, "");
        EXPECT_THAT(Requests(), ElementsAre("POST connections/check-requests",
                                            "DELETE connections/disconnect-all"));
        EXPECT_THAT(ras.connections, IsEmpty());
        EXPECT_THAT(dialog.events, ElementsAre("icon:0", "address:"));
    }
}

TEST_F(PollingTest, AnyVpnCreatedKeepsTheVpnUp) {
    VpnUp();
    // Another type, and an element without an id, still count.
    internet.Script(200, List({Request("3", "done", "vpn"), Request("4", "vpn-created", "ssh")}));
    CheckConnectionRequests(agent);
    internet.Script(200, "{\"data\":[{\"status\":\"vpn-created\"}]}");
    CheckConnectionRequests(agent);
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_THAT(Requests(),
                ElementsAre("POST connections/check-requests", "POST connections/check-requests"));
}

TEST_F(PollingTest, FailedResetStillShowsTheDisconnectedLook) {
    VpnUp();
    ras.hangUpResult = 668;
    internet.Script(200, "{\"data\":[]}");
    CheckConnectionRequests(agent);
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_THAT(dialog.events, ElementsAre("icon:0", "address:"));
    EXPECT_THAT(Lines(), ::testing::Contains("Error 668 stopping VPN"));
}

// ---- VPN requests ----

TEST_F(PollingTest, VpnRequestBringsTheVpnUpAndAnswersWithAddressAndInterfaces) {
    internet.Script(200, List({Request("7", "request", "vpn")}));
    CheckConnectionRequests(agent);
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_FALSE(WasReset());  // created during this very poll
    EXPECT_THAT(dialog.events, ElementsAre("address:10.8.0.6", "icon:1"));
    ASSERT_EQ(ras.dials.size(), 1u);
    EXPECT_EQ(ras.dials[0].szUserName, L"dev");
    EXPECT_EQ(ras.entriesSet.at(0).second.entry.szLocalPhoneNumber, L"vpn.example.net");

    ASSERT_EQ(Answers().size(), 1u);
    const std::string prefix = "connections/7 status=vpn-created&data=";
    ASSERT_THAT(Answers()[0], StartsWith(prefix));
    const std::string printed = Answers()[0].substr(prefix.size());
    EXPECT_EQ(
        printed,
        "{\n\t\"url\":\t\"vpn.example.net\",\n\t\"username\":\t\"dev\",\n\t\"password\":\t\"pw\",\n"
        "\t\"domain\":\t\"\",\n\t\"preSharedKey\":\t\"psk\",\n\t\"serverIp\":\t\"10.8.0.6\",\n"
        "\t\"networkInterfaces\":\t{\n\t\t\"eth0\":\t[{\n\t\t\t\t\"ip\":\t\"192.168.1.20\",\n"
        "\t\t\t\t\"mask\":\t\"255.255.255.0\"\n\t\t\t}]\n\t}\n}");
}

TEST_F(PollingTest, VpnDisabledAndVpnErrorAnswers) {
    agent.settings.vpnEnabled = false;
    internet.Script(200, List({Request("5", "request", "vpn")}));
    CheckConnectionRequests(agent);
    agent.settings.vpnEnabled = true;
    ras.dialResult = 691;
    internet.Script(200, List({Request("6", "request", "vpn")}));
    CheckConnectionRequests(agent);
    EXPECT_THAT(Answers(),
                ElementsAre("connections/5 status=error&data={\"error\":\"vpn-disabled\"}",
                            "connections/6 status=error&data={\"error\":\"vpn-error\"}"));
    EXPECT_EQ(internet.sent[1].body.size(), 42u);
    EXPECT_EQ(internet.sent[3].body.size(), 39u);
    EXPECT_EQ(ras.dials.size(), 1u);
    EXPECT_FALSE(agent.vpnConnected);
}

TEST_F(PollingTest, OverlongParameterIsAnsweredVpnError) {
    const std::string data = "{\\\"url\\\":\\\"" + std::string(129, 'h') + "\\\"}";
    internet.Script(200, List({Request("8", "request", "vpn", data)}));
    CheckConnectionRequests(agent);
    EXPECT_THAT(Answers(),
                ElementsAre("connections/8 status=error&data={\"error\":\"vpn-error\"}"));
    EXPECT_THAT(ras.dials, IsEmpty());
}

TEST_F(PollingTest, SecondRequestWhileUpIsAnsweredWithoutDialling) {
    VpnUp("10.8.0.9");
    const std::string other = "{\\\"url\\\":\\\"elsewhere\\\"}";
    internet.Script(
        200, List({Request("9", "request", "vpn", other), Request("2", "vpn-created", "vpn")}));
    CheckConnectionRequests(agent);
    EXPECT_THAT(ras.dials, IsEmpty());
    ASSERT_EQ(Answers().size(), 1u);
    EXPECT_THAT(Answers()[0],
                StartsWith("connections/9 status=vpn-created&data={\n\t\"url\":\t\"elsewhere\",\n"
                           "\t\"serverIp\":\t\"10.8.0.9\",\n"));
    EXPECT_TRUE(agent.vpnConnected);

    // With no element in the state "vpn-created" the VPN goes at the end of the poll.
    internet.Script(200, List({Request("9", "request", "vpn", other)}));
    CheckConnectionRequests(agent);
    EXPECT_EQ(Answers().size(), 2u);
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_TRUE(WasReset());
}

TEST_F(PollingTest, DataThatIsNotAnObjectGivesJustTheDevicesMembers) {
    VpnUp();
    internet.Script(
        200, List({Request("4", "request", "vpn", "[1,2]"), Request("5", "request", "vpn", "oops"),
                   Request("6", "vpn-created", "vpn")}));
    CheckConnectionRequests(agent);
    const std::string expected =
        "status=vpn-created&data={\n\t\"serverIp\":\t\"10.8.0.6\",\n\t\"networkInterfaces\":\t{\n"
        "\t\t\"eth0\":\t[{\n\t\t\t\t\"ip\":\t\"192.168.1.20\",\n\t\t\t\t\"mask\":\t\"255.255.255."
        "0\"\n\t\t\t}]\n\t}\n}";
    EXPECT_THAT(Answers(), ElementsAre("connections/4 " + expected, "connections/5 " + expected));
}

TEST_F(PollingTest, RequestsWithoutAUsableIdAreNeitherActedOnNorAnswered) {
    internet.Script(200, "{\"data\":[{\"status\":\"request\",\"type\":\"vpn\",\"data\":\"{}\"}," +
                             Request("\"7\"", "request", "vpn") + "," +
                             Request("0", "request", "vpn") + "," +
                             // Out of range or not whole: they would be answered on
                             // connections/2147483647, /-2147483648 or /1.
                             Request("4294967297", "request", "vpn") + "," +
                             Request("2147483648", "request", "vpn") + "," +
                             Request("-2147483649", "request", "vpn") + "," +
                             Request("1e300", "request", "vpn") + "," +
                             Request("1.9", "request", "vpn") + "]}");
    CheckConnectionRequests(agent);
    EXPECT_THAT(Answers(), IsEmpty());
    EXPECT_THAT(ras.calls, IsEmpty());
    const std::vector<std::string> lines = Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Connection request without an id ignored"),
              8);
}

TEST_F(PollingTest, OtherStatusesAndTypesAreIgnored) {
    internet.Script(200, List({Request("1", "done", "vpn"), Request("2", "request", "ssh"),
                               Request("3", "Request", "vpn"), Request("4", "request", "VPN")}));
    CheckConnectionRequests(agent);
    EXPECT_THAT(Requests(), ElementsAre("POST connections/check-requests"));
    EXPECT_THAT(ras.calls, IsEmpty());
}

TEST_F(PollingTest, EachRequestOfALongListIsAnsweredOnce) {
    std::vector<std::string> requests;
    for (int i = 1; i <= 200; ++i)
        requests.push_back(Request(IntToText(i), i % 2 ? "request" : "vpn-created", "vpn"));
    internet.Script(200, List(requests));
    CheckConnectionRequests(agent);
    std::vector<std::string> answers = Answers();
    ASSERT_EQ(answers.size(), 100u);
    EXPECT_THAT(answers.front(), StartsWith("connections/1 status=vpn-created"));
    EXPECT_THAT(answers.back(), StartsWith("connections/199 status=vpn-created"));
    EXPECT_EQ(ras.dials.size(), 1u);
    EXPECT_TRUE(agent.vpnConnected);
}

}  // namespace
}  // namespace lumivo
