// The transport over the libcurl Internet port against devcloud, over real
// TLS: the relaxed certificate checks, what goes over the wire, replies cut
// short, and the cost of a request.

#include <chrono>
#include <ctime>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/agent.h"
#include "base/constants.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "devcloud/devcloud_fixture.h"
#include "fakes/console_capture.h"
#include "platform/posix/internet_curl.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kEnrolBody = "secretKey=v61947.02&typeCode=wince&version=1.1.1";

struct Outcome {
    int status = -1;
    std::string reply;
    std::vector<std::string> lines;
};

class CurlDevcloudTest : public ::testing::Test {
  protected:
    // Starts devcloud with the given options and an adapter that reaches it.
    void Start(std::vector<std::string> options = {}) {
        devcloud = std::make_unique<DevCloud>(std::move(options));
        ASSERT_TRUE(devcloud->Start()) << "devcloud did not start";
        internet = std::make_unique<CurlInternet>(
            CurlTimeouts{}, "localhost:8443:127.0.0.1:" + std::to_string(devcloud->port()));
        agent.ports.internet = internet.get();
    }
    Outcome Send(const std::string& method, const std::string& path, const std::string& body) {
        test::ConsoleCapture console;
        Outcome outcome;
        SendRequest(agent, method, path, body, outcome.status, outcome.reply);
        if (outcome.status != 200) ReportRequestError(agent, outcome.status, outcome.reply);
        outcome.lines = console.Lines();
        return outcome;
    }
    // Enrols a device; gives its id and keeps its token in agent.accessToken.
    int Enrol() {
        Outcome outcome = Send("POST", "devices", kEnrolBody);
        EXPECT_EQ(outcome.status, 200);
        JsonTree tree(ParseJson(outcome.reply));
        std::int32_t id = 0;
        GetJsonInt(tree.get(), "id", id);
        GetJsonString(tree.get(), "token", agent.accessToken);
        return id;
    }
    std::unique_ptr<DevCloud> devcloud;
    std::unique_ptr<CurlInternet> internet;
    Agent agent;
};

TEST_F(CurlDevcloudTest, SelfSignedCertificateIsAccepted) {
    Start();
    Outcome outcome = Send("POST", "devices", kEnrolBody);
    EXPECT_EQ(outcome.status, 200);
    EXPECT_THAT(outcome.reply, HasSubstr("\"token\""));
}

TEST_F(CurlDevcloudTest, CertificateForAnotherHostNameIsAccepted) {
    Start({"--cert-host", "other.example"});
    EXPECT_EQ(Send("POST", "devices", kEnrolBody).status, 200);
}

TEST_F(CurlDevcloudTest, ExpiredCertificateIsAccepted) {
    Start({"--cert-expired"});
    EXPECT_EQ(Send("POST", "devices", kEnrolBody).status, 200);
}

TEST_F(CurlDevcloudTest, CertificateThatFailsAnotherCheckIsRefused) {
    for (std::vector<std::string> options : {std::vector<std::string>{"--cert-purpose", "client"},
                                             std::vector<std::string>{"--cert-bad-signature"}}) {
        SCOPED_TRACE(options[0]);
        Start(options);
        Outcome outcome = Send("POST", "devices", kEnrolBody);
        EXPECT_THAT(outcome.lines, ElementsAre("12055", "Could not read data", "Network error"));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.reply, "");
    }
}

TEST_F(CurlDevcloudTest, HeaderBlockAndBodyGoOverTheWireAsGiven) {
    Start();
    const int id = Enrol();
    Send("GET", "devices/" + IntToText(id) + "/heart-beat", "");
    Send("PUT", "connections/999", "status=error&data={\"a\":\"b=c&d\"}");

    std::vector<LoggedCall> log = devcloud->Log();
    ASSERT_EQ(log.size(), 3u);
    auto headers = [&log](std::size_t index) {
        std::vector<std::string> lines;
        for (const auto& [name, value] : log[index].headers) lines.push_back(name + ": " + value);
        return lines;
    };
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/api/devices");
    EXPECT_EQ(log[0].body, kEnrolBody);
    EXPECT_THAT(headers(0), ElementsAre("Host: localhost:8443",
                                        "Content-Type: application/x-www-form-urlencoded",
                                        "User-Agent: Lumivo Device", "Content-Length: 48"));

    EXPECT_EQ(log[1].method, "GET");
    EXPECT_EQ(log[1].path, "/api/devices/" + IntToText(id) + "/heart-beat");
    EXPECT_EQ(log[1].body, "");
    EXPECT_THAT(headers(1),
                ElementsAre("Host: localhost:8443", "x-access-token: " + agent.accessToken,
                            "Content-Type: application/x-www-form-urlencoded",
                            "User-Agent: Lumivo Device"));

    EXPECT_EQ(log[2].method, "PUT");
    EXPECT_EQ(log[2].body, "status=error&data={\"a\":\"b=c&d\"}");
}

TEST_F(CurlDevcloudTest, ReplyIsServedInTheSizesAskedFor) {
    Start();
    InternetPort& port = *internet;
    InternetHandle session =
        port.InternetOpen(L"t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetHandle connection = port.InternetConnect(session, L"localhost", 8443, nullptr, nullptr,
                                                     INTERNET_SERVICE_HTTP, 0, 0);
    InternetHandle request = port.HttpOpenRequest(connection, L"POST", L"/api/devices", nullptr,
                                                  nullptr, nullptr, 0x00C03000, 0);
    std::uint32_t flags = SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                          SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                          SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    port.InternetSetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    ASSERT_TRUE(port.HttpSendRequest(
        request, L"Content-Type: application/x-www-form-urlencoded\r\n", kTerminatedText,
        kEnrolBody.data(), static_cast<unsigned long>(kEnrolBody.size())));
    std::uint32_t status = 0;
    unsigned long size = sizeof status;
    ASSERT_TRUE(port.HttpQueryInfo(request, 0x20000013, &status, size, nullptr));
    EXPECT_EQ(status, 200u);

    std::string reply;
    std::vector<unsigned long> sizes;
    for (;;) {
        char chunk[50];
        unsigned long read = 0;
        ASSERT_TRUE(port.InternetReadFile(request, chunk, sizeof chunk, read));
        sizes.push_back(read);
        reply.append(chunk, read);
        if (read == 0) break;
    }
    ASSERT_GT(reply.size(), 50u);
    for (std::size_t i = 0; i + 2 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 50u);
    EXPECT_EQ(sizes.back(), 0u);
    EXPECT_EQ(sizes[sizes.size() - 2], reply.size() - 50 * (sizes.size() - 2));
    EXPECT_THAT(reply, StartsWith("{"));
    EXPECT_TRUE(port.InternetCloseHandle(request));
    EXPECT_TRUE(port.InternetCloseHandle(connection));
    EXPECT_TRUE(port.InternetCloseHandle(session));
}

TEST_F(CurlDevcloudTest, ServiceErrorsAndCutRepliesReachTheCaller) {
    Start();
    const int id = Enrol();
    const std::string beat = "devices/" + IntToText(id) + "/heart-beat";
    FaultSpec fault;
    fault.path = "/api/" + beat;
    fault.status = 500;
    fault.body = R"({"message":"Down for repair"})";
    ASSERT_TRUE(devcloud->AddFault(fault));
    EXPECT_THAT(Send("GET", beat, "").lines,
                ElementsAre(R"({"message":"Down for repair"})", "Error 500", "Down for repair"));

    // Dropped inside the body: the status came, the reply did not.
    fault = FaultSpec{};
    fault.path = "/api/" + beat;
    fault.drop = true;
    ASSERT_TRUE(devcloud->AddFault(fault));
    Outcome cut = Send("GET", beat, "");
    EXPECT_THAT(cut.lines, ElementsAre("Could not read data", "Network error"));
    EXPECT_EQ(cut.reply, "");

    // Dropped before any of the head: no status at all.
    fault.dropAfterBytes = 0;
    ASSERT_TRUE(devcloud->AddFault(fault));
    Outcome nothing = Send("GET", beat, "");
    EXPECT_THAT(nothing.lines, ElementsAre("12152", "Could not read data", "Network error"));
    EXPECT_EQ(nothing.status, 0);
}

TEST_F(CurlDevcloudTest, AnswerThatDoesNotComeAfterTheHandshakeTimesOut) {
    Start();
    const int id = Enrol();
    FaultSpec fault;
    fault.path = "/api/devices/" + IntToText(id) + "/heart-beat";
    fault.delayMs = 5000;
    ASSERT_TRUE(devcloud->AddFault(fault));
    CurlTimeouts timeouts;
    timeouts.noProgressSeconds = 1;
    internet = std::make_unique<CurlInternet>(
        timeouts, "localhost:8443:127.0.0.1:" + std::to_string(devcloud->port()));
    agent.ports.internet = internet.get();

    const auto start = std::chrono::steady_clock::now();
    Outcome outcome = Send("GET", "devices/" + IntToText(id) + "/heart-beat", "");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_THAT(outcome.lines, ElementsAre("12002", "Could not read data", "Network error"));
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 4.5);
}

TEST_F(CurlDevcloudTest, TrustStoreIsParsedOnceAndARequestCostsLittleCpu) {
    Start();
    const int id = Enrol();
    const std::string path = "devices/" + IntToText(id) + "/heart-beat";
    constexpr int kRequests = 40;
    const std::clock_t start = std::clock();
    for (int i = 0; i < kRequests; ++i) EXPECT_EQ(Send("GET", path, "").status, 200);
    const double msPerRequest =
        1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC / kRequests;
    RecordProperty("cpu_ms_per_request", std::to_string(msPerRequest));
    std::printf("CPU per request: %.2f ms\n", msPerRequest);
    EXPECT_EQ(internet->TrustStoreLoads(), 1);
    // Parsing the system's trust store alone costs about 20-30 ms.
    EXPECT_LT(msPerRequest, 10.0);
}

}  // namespace
}  // namespace lumivo
