#include "cloud/transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_internet.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;

class TransportTest : public ::testing::Test {
  protected:
    TransportTest() { agent.ports.internet = &internet; }

    // Runs one request and gives the console lines it wrote.
    std::vector<std::string> Send(std::string method, std::string path, std::string body) {
        test::ConsoleCapture console;
        SendRequest(agent, std::move(method), std::move(path), std::move(body), status, reply);
        return Lines(console);
    }
    std::vector<std::string> Report(int code, std::string text) {
        test::ConsoleCapture console;
        ReportRequestError(agent, code, std::move(text));
        return Lines(console);
    }
    static std::vector<std::string> Lines(const test::ConsoleCapture& console) {
        const std::string text = console.Text();
        EXPECT_TRUE(text.empty() || text.back() == '\n') << "output does not end in a line feed";
        return console.Lines();
    }

    FakeInternet internet;
    Agent agent;
    int status = -1;
    std::string reply = "stale";
};

TEST_F(TransportTest, MakesTheWinInetCallsInOrderWithTheirArguments) {
    agent.accessToken = "tok";
    internet.Script(200, "{\"ok\":true}");
    EXPECT_THAT(Send("POST", "connections/check-requests", "password=x"),
                ElementsAre("{\"ok\":true}"));

    EXPECT_THAT(
        internet.calls,
        ElementsAre("InternetOpen", "InternetCrackUrl", "InternetConnect", "HttpOpenRequest",
                    "InternetQueryOption", "InternetSetOption", "HttpSendRequest", "HttpQueryInfo",
                    "InternetReadFile", "InternetReadFile", "InternetCloseHandle",
                    "InternetCloseHandle", "InternetCloseHandle"));
    ASSERT_EQ(internet.sessions.size(), 1u);
    EXPECT_EQ(internet.sessions[0].userAgent, L"Lumivo Device");
    EXPECT_EQ(internet.sessions[0].accessType, 1u);
    EXPECT_TRUE(internet.sessions[0].nullProxy && internet.sessions[0].nullBypass);
    EXPECT_EQ(internet.sessions[0].flags, 0u);

    ASSERT_EQ(internet.cracks.size(), 1u);
    EXPECT_EQ(internet.cracks[0].url,
              ToWide(std::string(serviceBaseUrl) + "connections/check-requests"));
    EXPECT_EQ(internet.cracks[0].urlLength, 0u);
    EXPECT_EQ(internet.cracks[0].flags, 0x10000000u);
    EXPECT_EQ(internet.cracks[0].hostNameCapacity, 1024u);
    EXPECT_EQ(internet.cracks[0].urlPathCapacity, 1024u);

    ASSERT_EQ(internet.connects.size(), 1u);
    EXPECT_EQ(internet.connects[0].service, 3u);
    EXPECT_TRUE(internet.connects[0].nullUser && internet.connects[0].nullPassword);
    EXPECT_EQ(internet.connects[0].flags, 0u);
    EXPECT_EQ(internet.connects[0].context, 0u);

    ASSERT_EQ(internet.sent.size(), 1u);
    const FakeInternet::SentRequest& sent = internet.sent[0];
    EXPECT_EQ(sent.relativePath, "connections/check-requests");
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.openFlags, 0x00C03000u);
    EXPECT_TRUE(sent.nullVersionReferrerAccept);
    EXPECT_EQ(sent.securityFlags, SECURITY_FLAG_SECURE | 0x100u);
    EXPECT_EQ(sent.headers,
              "x-access-token: tok\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    EXPECT_EQ(sent.headersLength, kTerminatedText);
    EXPECT_EQ(sent.body, "password=x");

    ASSERT_EQ(internet.queriedOptions.size(), 1u);
    EXPECT_EQ(internet.queriedOptions[0].option, 31u);
    EXPECT_EQ(internet.queriedOptions[0].length, 4u);
    ASSERT_EQ(internet.setOptions.size(), 1u);
    EXPECT_EQ(internet.setOptions[0].length, 4u);
    ASSERT_EQ(internet.queryInfos.size(), 1u);
    EXPECT_EQ(internet.queryInfos[0].infoLevel, 0x20000013u);
    EXPECT_EQ(internet.queryInfos[0].bufferLength, 4u);
    EXPECT_TRUE(internet.queryInfos[0].nullIndex);
    EXPECT_THAT(internet.readSizes, ElementsAre(50u, 50u));

    // Request first, session last; nothing outlives the call.
    ASSERT_EQ(internet.closed.size(), 3u);
    EXPECT_EQ(internet.closed[0], internet.queryInfos[0].request);
    EXPECT_EQ(internet.closed[2], internet.connects[0].session);
    EXPECT_EQ(internet.OpenHandles(), 0u);

    EXPECT_EQ(status, 200);
    EXPECT_EQ(reply, "{\"ok\":true}");
}

TEST_F(TransportTest, HeaderBlockHasContentTypeOnlyUntilATokenIsKnown) {
    Send("POST", "devices", "secretKey=s");
    EXPECT_EQ(internet.sent.at(0).headers, "Content-Type: application/x-www-form-urlencoded\r\n");
}

TEST_F(TransportTest, GetAndDeleteCarryContentTypeAndAnEmptyBody) {
    agent.accessToken = "t";
    Send("GET", "devices/42/heart-beat", "");
    Send("DELETE", "connections/disconnect-all", "");
    ASSERT_EQ(internet.sent.size(), 2u);
    for (const auto& sent : internet.sent) {
        EXPECT_EQ(sent.headers,
                  "x-access-token: t\r\nContent-Type: application/x-www-form-urlencoded\r\n");
        EXPECT_EQ(sent.body, "");
    }
    EXPECT_EQ(internet.sent[0].method, "GET");
    EXPECT_EQ(internet.sent[1].method, "DELETE");
}

TEST_F(TransportTest, BodyGoesOutUnencodedUpToItsFirstNul) {
    Send("POST", "devices", std::string("a=1&b=x y%\0c=3", 14));
    EXPECT_EQ(internet.sent.at(0).body, "a=1&b=x y%");
}

TEST_F(TransportTest, PathIsSplitWithPercentEscapesDecoded) {
    Send("PUT", "connections/a%20b", "");
    EXPECT_EQ(internet.sent.at(0).urlPath.substr(internet.sent[0].urlPath.size() - 15),
              "connections/a b");
}

TEST_F(TransportTest, ReplyLongerThanOneChunkArrivesWhole) {
    std::string body(173, 'x');
    body += "end";
    internet.Script(200, body);
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre(body));
    EXPECT_EQ(reply, body);
    EXPECT_EQ(internet.readSizes.size(), 5u);  // four reads of data, one of 0 bytes
}

TEST_F(TransportTest, EachChunkLosesTheBytesAfterItsFirstNul) {
    FakeInternet::Reply scripted;
    scripted.chunks = {std::string("ab\0cd", 5), "ef", std::string("\0gh", 3), "ij"};
    internet.replies.push_back(scripted);
    Send("GET", "x", "");
    EXPECT_EQ(reply, "abefij");
}

TEST_F(TransportTest, ShortReadAfterAFullChunkTakesOnlyTheBytesRead) {
    // A full 50-byte chunk holds no terminator; the next, shorter read must
    // not pick up what the earlier one left in the buffer.
    FakeInternet::Reply scripted;
    scripted.chunks = {std::string(50, 'x'), "ab"};
    internet.replies.push_back(scripted);
    Send("GET", "x", "");
    EXPECT_EQ(reply, std::string(50, 'x') + "ab");
}

TEST_F(TransportTest, EmptyReplyLogsAnEmptyLine) {
    internet.Script(204, "");
    EXPECT_THAT(Send("DELETE", "connections/disconnect-all", ""), ElementsAre(""));
    EXPECT_EQ(status, 204);
    EXPECT_EQ(reply, "");
}

TEST_F(TransportTest, StatusOtherThan200IsHandedBackUnchanged) {
    internet.Script(201, "created");
    Send("POST", "x", "");
    EXPECT_EQ(status, 201);
    EXPECT_EQ(reply, "created");
}

TEST_F(TransportTest, FailedSendLogsTheLastErrorAndGivesStatus0AndAnEmptyReply) {
    internet.ScriptFailure(12029);
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("12029", "Could not read data"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST_F(TransportTest, FailedReadDropsWhatWasReadBeforeAndCountsAsNoAnswer) {
    FakeInternet::Reply scripted;
    scripted.status = 200;
    scripted.body = std::string(120, 'y');
    scripted.failReadAfter = 2;
    internet.replies.push_back(scripted);
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("Could not read data"));
    // A cut reply must not pass for a 200 with an empty body.
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply, "");
}

// No call needs a reply anywhere near 1 MiB: a longer one is no answer, and
// reading stops right past the ceiling, whatever more the service sends.
TEST_F(TransportTest, ReplyPastTheCeilingIsNoAnswerAndIsNotReadFurther) {
    const std::string ceiling(kMaxReplyBytes, 'x');
    internet.Script(200, ceiling);
    EXPECT_EQ(Send("GET", "x", "").size(), 1u);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(reply, ceiling);

    internet.readSizes.clear();
    internet.Script(200, ceiling + std::string(kMaxReplyBytes, 'y'));
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("Could not read data"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(internet.readSizes.size(), kMaxReplyBytes / 50 + 1);
    EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST_F(TransportTest, SessionThatCannotBeOpenedShowsUpAsAFailedSend) {
    internet.failOpen = true;
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("6", "Could not read data"));
    EXPECT_EQ(status, 0);
    // Only handles that were opened are closed: here none.
    EXPECT_TRUE(internet.closed.empty());
}

TEST_F(TransportTest, RequestThatCannotBeOpenedClosesOnlyTheOpenedHandles) {
    internet.failOpenRequest = true;
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("6", "Could not read data"));
    EXPECT_EQ(internet.closed.size(), 2u);
    EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST_F(TransportTest, UrlThatCannotBeSplitShowsUpAsAFailedSend) {
    internet.failCrack = true;
    EXPECT_THAT(Send("GET", "x", ""), ElementsAre("12007", "Could not read data"));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(internet.OpenHandles(), 0u);
}

TEST_F(TransportTest, ReportRequestErrorCoversEveryStatusAndReplyForm) {
    EXPECT_THAT(Report(0, ""), ElementsAre("Network error"));
    EXPECT_THAT(Report(404, R"({"message":"No such device","code":"E1"})"),
                ElementsAre("Error 404", "No such device"));
    EXPECT_THAT(Report(404, R"({"code":"NOT_FOUND"})"), ElementsAre("Error 404", "NOT_FOUND"));
    EXPECT_THAT(Report(404, R"({"message":7,"code":"C"})"), ElementsAre("Error 404", "C"));
    EXPECT_THAT(Report(404, R"({"code":17})"), ElementsAre("Error 404", "Unexpected error"));
    EXPECT_THAT(Report(500, "<html>oops</html>"), ElementsAre("Error 500", "Unexpected error"));
    EXPECT_THAT(Report(500, R"(["message"])"), ElementsAre("Error 500", "Unexpected error"));
    EXPECT_THAT(Report(404, R"({"Message":"wrong case"})"),
                ElementsAre("Error 404", "Unexpected error"));
    EXPECT_TRUE(Report(401, R"({"message":"no"})").empty());
    EXPECT_TRUE(Report(403, "").empty());
    EXPECT_TRUE(Report(201, "").empty());
}

}  // namespace
}  // namespace lumivo
