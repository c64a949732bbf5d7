// The libcurl Internet port on its own: URL splitting, handles, header text
// on the wire, and the failures of a service that cannot be reached or does
// not answer.

#include "platform/posix/internet_curl.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/agent.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "fakes/console_capture.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using Clock = std::chrono::steady_clock;

// A loopback socket that listens and, unless a test accepts on it, never
// accepts: the kernel completes the TCP handshake, then nothing answers.
class SilentListener {
  public:
    SilentListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { Close(); }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int Port() const { return port_; }
    int Fd() const { return fd_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Requests for the agent's service URL go to 127.0.0.1:port.
std::string ConnectTo(int port) { return "::127.0.0.1:" + std::to_string(port); }

struct Outcome {
    int status = -1;
    std::string reply;
    std::vector<std::string> lines;
    double seconds = 0;
};

Outcome Send(CurlInternet& internet, const std::string& method, const std::string& path) {
    Agent agent;
    agent.ports.internet = &internet;
    test::ConsoleCapture console;
    Outcome outcome;
    const auto start = Clock::now();
    SendRequest(agent, method, path, "", outcome.status, outcome.reply);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ReportRequestError(agent, outcome.status, outcome.reply);
    outcome.lines = console.Lines();
    return outcome;
}

TEST(CurlInternetTest, DefaultTimeoutsAreThoseOfTheWindowsInternetStack) {
    CurlInternet internet;
    EXPECT_EQ(internet.GetTimeouts().connectMs, 60000);
    EXPECT_EQ(internet.GetTimeouts().noProgressSeconds, 30);
}

TEST(CurlInternetTest, UnreachableServiceGivesTheWinInetNumberStatus0AndNetworkError) {
    SilentListener listener;
    const int port = listener.Port();
    listener.Close();
    CurlInternet refused(CurlTimeouts{}, ConnectTo(port));
    Outcome outcome = Send(refused, "GET", "devices/1/heart-beat");
    EXPECT_THAT(outcome.lines, ElementsAre("12029", "Could not read data", "Network error"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.reply, "");

    // ".invalid" never resolves (RFC 6761).
    CurlInternet unresolved(CurlTimeouts{}, "::no-such-host.invalid:443");
    EXPECT_THAT(Send(unresolved, "GET", "x").lines,
                ElementsAre("12007", "Could not read data", "Network error"));
}

TEST(CurlInternetTest, ServiceThatDoesNotAnswerTimesOutWithoutProgress) {
    SilentListener listener;
    CurlTimeouts timeouts;
    timeouts.noProgressSeconds = 1;
    CurlInternet internet(timeouts, ConnectTo(listener.Port()));
    Outcome outcome = Send(internet, "POST", "devices");
    EXPECT_THAT(outcome.lines, ElementsAre("12002", "Could not read data", "Network error"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_GE(outcome.seconds, 0.9);
    EXPECT_LT(outcome.seconds, 10.0);
}

// Waits for the real receive time-out (label "slow").
TEST(CurlInternetSlowTest, ServiceThatDoesNotAnswerIsGivenUpAfterThirtySeconds) {
    SilentListener listener;
    CurlInternet internet(CurlTimeouts{}, ConnectTo(listener.Port()));
    Outcome outcome = Send(internet, "GET", "devices/1/heart-beat");
    EXPECT_THAT(outcome.lines, ElementsAre("12002", "Could not read data", "Network error"));
    EXPECT_GE(outcome.seconds, 29.0);
    EXPECT_LT(outcome.seconds, 40.0);
}

TEST(CurlInternetTest, CrackUrlSplitsHostPortAndDecodedPath) {
    CurlInternet internet;
    UrlComponents parts;
    parts.hostNameCapacity = 1024;
    parts.urlPathCapacity = 1024;
    ASSERT_TRUE(internet.InternetCrackUrl(L"https://localhost:8443/api/a%20b%26c?x=%31", 0,
                                          ICU_DECODE, parts));
    EXPECT_EQ(parts.hostName, L"localhost");
    EXPECT_EQ(parts.port, 8443);
    EXPECT_EQ(parts.urlPath, L"/api/a b&c?x=1");

    ASSERT_TRUE(internet.InternetCrackUrl(L"https://[::1]/x%20y", 0, 0, parts));
    EXPECT_EQ(parts.hostName, L"::1");
    EXPECT_EQ(parts.port, 443);
    EXPECT_EQ(parts.urlPath, L"/x%20y");

    ASSERT_TRUE(internet.InternetCrackUrl(L"http://example.test", 0, ICU_DECODE, parts));
    EXPECT_EQ(parts.port, 80);
    EXPECT_EQ(parts.urlPath, L"/");
}

TEST(CurlInternetTest, CrackUrlRefusesWhatItCannotSplitOrHold) {
    CurlInternet internet;
    UrlComponents parts;
    parts.hostNameCapacity = 1024;
    parts.urlPathCapacity = 8;
    EXPECT_FALSE(internet.InternetCrackUrl(L"https://localhost/a/long/path", 0, ICU_DECODE, parts));
    EXPECT_EQ(internet.GetLastError(), kErrorInsufficientBuffer);
    EXPECT_FALSE(internet.InternetCrackUrl(L"ftp://localhost/", 0, ICU_DECODE, parts));
    EXPECT_EQ(internet.GetLastError(), kInternetUnrecognizedScheme);
    EXPECT_FALSE(internet.InternetCrackUrl(L"not a url", 0, ICU_DECODE, parts));
    EXPECT_EQ(internet.GetLastError(), kInternetInvalidUrl);
}

TEST(CurlInternetTest, RequestCarriesItsOpenFlagsAmongItsSecurityFlags) {
    CurlInternet internet;
    InternetHandle session =
        internet.InternetOpen(L"ua", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetHandle connection = internet.InternetConnect(session, L"localhost", 8443, nullptr,
                                                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InternetHandle request = internet.HttpOpenRequest(connection, L"GET", L"/", nullptr, nullptr,
                                                      nullptr, 0x00C03000, 0);
    ASSERT_NE(request, nullptr);
    std::uint32_t flags = 0;
    unsigned long size = sizeof flags;
    ASSERT_TRUE(
        internet.InternetQueryOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, size));
    EXPECT_EQ(flags, SECURITY_FLAG_SECURE | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                         SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    EXPECT_TRUE(internet.InternetSetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, 4));
    std::uint32_t read = 0;
    ASSERT_TRUE(internet.InternetQueryOption(request, INTERNET_OPTION_SECURITY_FLAGS, &read, size));
    EXPECT_EQ(read, flags);

    // Nothing was sent yet: no status and nothing to read.
    unsigned long length = 4;
    EXPECT_FALSE(internet.HttpQueryInfo(request, 0x20000013, &read, length, nullptr));
    char buffer[8];
    unsigned long got = 1;
    EXPECT_FALSE(internet.InternetReadFile(request, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(internet.GetLastError(), kInternetIncorrectHandleState);

    EXPECT_TRUE(internet.InternetCloseHandle(request));
    EXPECT_TRUE(internet.InternetCloseHandle(connection));
    EXPECT_TRUE(internet.InternetCloseHandle(session));
    EXPECT_FALSE(internet.InternetCloseHandle(session));
    EXPECT_EQ(internet.GetLastError(), kErrorInvalidHandle);
}

TEST(CurlInternetTest, CallsOnHandlesThatWereNeverOpenedFail) {
    CurlInternet internet;
    EXPECT_EQ(internet.InternetConnect(nullptr, L"localhost", 1, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0),
              nullptr);
    EXPECT_EQ(internet.GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(internet.HttpOpenRequest(nullptr, L"GET", L"/", nullptr, nullptr, nullptr, 0, 0),
              nullptr);
    EXPECT_FALSE(internet.HttpSendRequest(nullptr, L"", kTerminatedText, "", 0));
    EXPECT_EQ(internet.GetLastError(), kErrorInvalidHandle);
}

// The core widens header text with the locale's multibyte conversion; the
// port turns it back into the same bytes, or sends nothing.
TEST(CurlInternetTest, HeaderTextReachesTheWireWithTheBytesTheCoreHad) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    SilentListener listener;
    std::string head;
    std::thread server([&] {
        const int fd = accept(listener.Fd(), nullptr, nullptr);
        char buffer[4096];
        for (ssize_t got; head.find("\r\n\r\n") == std::string::npos &&
                          (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            head.append(buffer, static_cast<std::size_t>(got));
        }
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        close(fd);
    });
    CurlInternet internet;
    auto send = [&internet, &listener](const std::wstring& headers) {
        InternetHandle session =
            internet.InternetOpen(L"ua", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        InternetHandle connection = internet.InternetConnect(
            session, L"127.0.0.1", static_cast<unsigned short>(listener.Port()), nullptr, nullptr,
            INTERNET_SERVICE_HTTP, 0, 0);
        InternetHandle request =
            internet.HttpOpenRequest(connection, L"GET", L"/", nullptr, nullptr, nullptr, 0, 0);
        const bool sent = internet.HttpSendRequest(request, headers, kTerminatedText, nullptr, 0);
        for (InternetHandle handle : {request, connection, session}) {
            internet.InternetCloseHandle(handle);
        }
        return sent;
    };
    EXPECT_TRUE(send(ToWide("x-note: t\xc3\xb6k\r\n")));
    server.join();
    EXPECT_NE(head.find("\r\nx-note: t\xc3\xb6k\r\n"), std::string::npos) << head;

    // A lone surrogate has no multibyte form: the send fails before any byte goes out.
    EXPECT_FALSE(send(std::wstring(L"x-note: ") + L'\xD800'));
    EXPECT_EQ(internet.GetLastError(), kErrorInvalidParameter);
    std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace lumivo
