// The agent binary against devcloud's fault injection: the service down at
// the start, error statuses with and without JSON, 401s, replies cut inside
// the body, a reply that outlasts a tick, a 10 MB reply (past the ceiling),
// a reply that is not JSON, a TLS handshake that fails and a reply slower than
// the receive time-out. In each the agent keeps running and ticking, writes the lines its
// design gives, changes the VPN's state only where that design says, and
// leaks no descriptor and no memory.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "e2e/faults_agent.h"

namespace lumivo {
namespace {

using test::EnrolledAgent;

const char* const kPollPath = "/api/connections/check-requests";

FaultSpec Fault(std::string path, int status, std::string body = "", int delayMs = 0) {
    FaultSpec fault;
    fault.path = std::move(path);
    fault.status = status;
    fault.body = std::move(body);
    fault.delayMs = delayMs;
    return fault;
}

// A 200 whose connection is cut in the middle of its body.
FaultSpec CutInsideTheBody(std::string path) {
    FaultSpec fault =
        Fault(std::move(path), 200, "{\"data\":[],\"padding\":\"" + std::string(2000, 'p') + "\"}");
    fault.drop = true;
    fault.dropAfterBytes = 1000;  // the head is a few hundred bytes
    return fault;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

class FaultsEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(cloud.Start()) << "devcloud did not start";
        agent = std::make_unique<EnrolledAgent>(cloud);
        ASSERT_TRUE(agent->enrolled());
    }
    std::string HeartBeatPath() const {
        return "/api/devices/" + std::to_string(agent->id()) + "/heart-beat";
    }
    // Starts the agent with a VPN request waiting; the index of the line of
    // the first poll that lists the request as "vpn-created".
    int StartWithVpnUp() {
        request = cloud.CreateVpnRequest(agent->id(), "vpn.example", "user", "pw", "", "psk");
        EXPECT_NE(request, 0);
        EXPECT_TRUE(agent->Start());
        const int up = agent->WaitForLines({"VPN connected successfully"}, -1, 20);
        return up < 0 ? -1 : agent->WaitForLines({"Ok 200"}, up, 12);
    }
    // The VPN kept its state over lines (from, to].
    void ExpectVpnUntouched(int from, int to) {
        EXPECT_FALSE(agent->Logged("VPN disconnected successfully", from, to))
            << ::testing::PrintToString(agent->Tail(from));
        EXPECT_FALSE(agent->Logged("VPN connected successfully", from, to));
    }
    int DisconnectNotices() {
        int count = 0;
        for (const LoggedCall& call : cloud.Log()) {
            count += call.method == "DELETE" && call.path == "/api/connections/disconnect-all";
        }
        return count;
    }

    DevCloud cloud;
    std::unique_ptr<EnrolledAgent> agent;
    int request = 0;
};

TEST_F(FaultsEndToEnd, ErrorsCutRepliesAndHugeRepliesLeaveTheAgentTickingWithItsVpnUp) {
    int at = StartWithVpnUp();
    ASSERT_GE(at, 0);
    const int descriptors = agent->OpenDescriptors();
    const long rssBefore = agent->RssKb();

    // One tick each; a poll fault and a heart-beat fault go into the same tick.
    struct Case {
        const char* name;
        std::vector<FaultSpec> faults;
        std::vector<std::string> pollLines;
        std::vector<std::string> beatLines;
    };
    const std::string created = R"({"data":[{"id":)" + std::to_string(request) +
                                R"(,"status":"vpn-created","type":"vpn","data":"{}"}])";
    const std::string tenMegabytes =
        created + R"(,"padding":")" + std::string(10 * 1024 * 1024, 'x') + "\"}";
    const std::vector<Case> cases = {
        {"500 with a JSON message; 401 on the heart-beat",
         {Fault(kPollPath, 500, R"({"message":"Down for maintenance"})"),
          Fault(HeartBeatPath(), 401, R"({"message":"Beat refused"})")},
         {"Error checking requests", "Error 500", "Down for maintenance"},
         {R"({"message":"Beat refused"})"}},
        {"500 without JSON; 500 on the heart-beat",
         {Fault(kPollPath, 500, "<html>Internal error</html>"),
          Fault(HeartBeatPath(), 500, "<html>Beat error</html>")},
         {"<html>Internal error</html>", "Error checking requests", "Error 500",
          "Unexpected error"},
         {"<html>Beat error</html>"}},
        {"401 on the poll; the heart-beat cut inside its body",
         {Fault(kPollPath, 401, R"({"message":"Unknown access token"})"),
          CutInsideTheBody(HeartBeatPath())},
         {R"({"message":"Unknown access token"})", "Error checking requests"},
         {"Could not read data"}},
        {"the poll cut inside its body",
         {CutInsideTheBody(kPollPath)},
         {"Could not read data", "Error checking requests", "Network error"},
         {"{}"}},
        // Past the reply ceiling: no answer, and nothing of it logged.
        {"a 10 MB reply",
         {Fault(kPollPath, 200, tenMegabytes)},
         {"Could not read data", "Error checking requests", "Network error"},
         {"{}"}},
        {"a poll that outlasts the tick", {Fault(kPollPath, 0, "", 6000)}, {"Ok 200"}, {"{}"}},
    };
    long rssAfterHuge = 0;
    for (const Case& one : cases) {
        SCOPED_TRACE(one.name);
        const int from = agent->LastLine();
        for (const FaultSpec& fault : one.faults) ASSERT_TRUE(cloud.AddFault(fault));
        const int polled = agent->WaitForLines(one.pollLines, from, 20);
        const int beaten = agent->WaitForLines(one.beatLines, from, 20);
        ASSERT_GE(polled, 0);
        ASSERT_GE(beaten, 0);
        at = std::max(polled, beaten);
        ExpectVpnUntouched(from, at);
        // Statuses other than 404 and 500 carry nothing the agent reports.
        EXPECT_FALSE(agent->Logged("Error 401", from, at));
        if (std::string(one.name) == "a 10 MB reply") {
            rssAfterHuge = agent->RssKb();
            EXPECT_FALSE(agent->Logged(tenMegabytes, from, at));
        }
    }
    // Still ticking, the VPN still up: the next poll is an ordinary one.
    at = agent->WaitForLines({"Ok 200"}, at, 12);
    ASSERT_GE(at, 0);
    EXPECT_EQ(DisconnectNotices(), 0);

    // Nothing leaked: every request closed its connection, and what the huge
    // reply took was given back or is reused (no growth after it).
    EXPECT_EQ(agent->OpenDescriptors(), descriptors)
        << ::testing::PrintToString(agent->Descriptors());
    if (test::kResidentMemoryIsMeaningful) {
        EXPECT_LE(agent->RssKb(), rssAfterHuge + 1024)
            << "before the faults " << rssBefore << " kB";
    }

    // A 200 that is not JSON is an empty list: now the VPN goes down, and the
    // service is told.
    ASSERT_TRUE(cloud.AddFault(Fault(kPollPath, 200, "<html>maintenance</html>")));
    const int from = agent->LastLine();
    at = agent->WaitForLines(
        {"<html>maintenance</html>", "Ok 200", "VPN disconnected successfully"}, from, 15);
    ASSERT_GE(at, 0);
    EXPECT_EQ(DisconnectNotices(), 1);
    EXPECT_TRUE(agent->Running());
    EXPECT_EQ(agent->process().Stop(), 0);
}

TEST_F(FaultsEndToEnd, ServiceDownAtTheStartIsRetriedEvery30sUntilItIsBack) {
    ASSERT_TRUE(cloud.Stop());
    ASSERT_TRUE(agent->Start());
    const std::string idLine = "Id: " + std::to_string(agent->id());
    const int first = agent->WaitForLines({idLine}, -1, 10);
    ASSERT_GE(first, 0);
    // The failed login: the transport's lines, then the login's own, then the report.
    const int failed =
        agent->WaitForLines({"Error during login of the device", "Network error"}, first, 70);
    ASSERT_GE(failed, 0);
    const auto& lines = agent->process().Lines();
    EXPECT_TRUE(IsNumber(lines[failed - 3].text)) << lines[failed - 3].text;
    EXPECT_EQ(lines[failed - 2].text, "Could not read data");
    EXPECT_FALSE(agent->Logged("Ok 200", first, failed));

    ASSERT_TRUE(cloud.Start());
    // One pause of 30000 ms, then the settings are read again and the login succeeds.
    const int second = agent->WaitForLines({idLine}, failed, 40);
    ASSERT_GE(second, 0);
    const double pause = std::chrono::duration<double>(lines[second].at - lines[failed].at).count();
    EXPECT_GT(pause, 29.5);
    EXPECT_LT(pause, 33);
    const int signedIn = agent->WaitForLines({"Ok 200"}, second, 10);
    ASSERT_GE(signedIn, 0);
    EXPECT_FALSE(agent->Logged("Error during login of the device", second, signedIn));
    // Then the loop runs: a heart-beat and a poll.
    EXPECT_GE(agent->WaitForLines({"Ok 200"}, signedIn, 12), 0);
    EXPECT_EQ(agent->process().Stop(), 0);
}

TEST_F(FaultsEndToEnd, TlsHandshakeThatFailsLeavesTheVpnUpAndTheAgentTicking) {
    int at = StartWithVpnUp();
    ASSERT_GE(at, 0);
    const int descriptors = agent->OpenDescriptors();

    // The same ports, now with a certificate whose signature does not verify:
    // the agent refuses the handshake.
    ASSERT_TRUE(cloud.Stop());
    DevCloud refused({"--cert-bad-signature"}, cloud.port(), cloud.operatorPort());
    ASSERT_TRUE(refused.Start());
    int from = agent->LastLine();
    const int failed = agent->WaitForLines({"Error checking requests", "Network error"}, from, 15);
    ASSERT_GE(failed, 0);
    const auto& lines = agent->process().Lines();
    EXPECT_TRUE(IsNumber(lines[failed - 3].text)) << lines[failed - 3].text;
    EXPECT_EQ(lines[failed - 2].text, "Could not read data");
    // A second tick fails the same way.
    at = agent->WaitForLines({"Error checking requests", "Network error"}, failed, 12);
    ASSERT_GE(at, 0);
    ExpectVpnUntouched(from, at);
    ASSERT_TRUE(refused.Stop());

    ASSERT_TRUE(cloud.Start());
    from = agent->LastLine();
    at = agent->WaitForLines({"Ok 200"}, from, 15);
    ASSERT_GE(at, 0);
    ExpectVpnUntouched(from, at);
    EXPECT_EQ(agent->OpenDescriptors(), descriptors);
    EXPECT_EQ(agent->process().Stop(), 0);
}

// Waits for the real 30 s receive time-out once.
TEST_F(FaultsEndToEnd, SlowTestReplySlowerThanTheReceiveTimeOutIsNoAnswer) {
    int at = StartWithVpnUp();
    ASSERT_GE(at, 0);
    ASSERT_TRUE(cloud.AddFault(Fault(kPollPath, 0, "", 40000)));
    const auto added = std::chrono::steady_clock::now();
    const int from = agent->LastLine();
    const int failed = agent->WaitForLines(
        {"12002", "Could not read data", "Error checking requests", "Network error"}, from, 45);
    ASSERT_GE(failed, 0);
    // The next poll starts within a tick and is given up 30 s after its last progress.
    const double waited =
        std::chrono::duration<double>(agent->process().Lines()[failed - 3].at - added).count();
    EXPECT_GT(waited, 29.5);
    EXPECT_LT(waited, 37);
    at = agent->WaitForLines({"Ok 200"}, failed, 15);
    ASSERT_GE(at, 0);
    ExpectVpnUntouched(from, at);
    EXPECT_EQ(agent->process().Stop(), 0);
}

}  // namespace
}  // namespace lumivo
