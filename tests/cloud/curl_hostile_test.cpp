// The libcurl Internet port against a loopback server that misbehaves on
// purpose: replies without end (in the body or in the head), replies that
// trickle, a request in flight when a termination signal comes, and header
// text outside ASCII.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/text.h"
#include "platform/posix/internet_curl.h"
#include "platform/posix/termination_signal.h"

namespace lumivo {
namespace {

using Clock = std::chrono::steady_clock;

// Serves one connection over plain HTTP: reads the request's head, then
// hands the socket to `behaviour`, which writes what it likes until the
// client goes away or the server is destroyed.
class HostileServer {
  public:
    using Behaviour = std::function<void(HostileServer&, int)>;

    explicit HostileServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~HostileServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }

    int Port() const { return port_; }
    std::string RequestHead() {
        std::lock_guard<std::mutex> lock(mutex_);
        return head_;
    }
    std::size_t BytesSent() const { return sent_; }
    bool Stopped() const { return stop_; }

    // Writes all of `data`; false once the client has gone.
    bool Write(int fd, const std::string& data) {
        for (std::size_t at = 0; at < data.size();) {
            pollfd ready{fd, POLLOUT, 0};
            if (stop_) return false;
            if (poll(&ready, 1, 100) <= 0) continue;
            const ssize_t put = send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (put <= 0) return false;
            at += static_cast<std::size_t>(put);
            sent_ += static_cast<std::size_t>(put);
        }
        return true;
    }

  private:
    void Serve() {
        int fd = -1;
        while (!stop_ && fd < 0) {
            pollfd ready{listener_, POLLIN, 0};
            if (poll(&ready, 1, 100) > 0) fd = accept(listener_, nullptr, nullptr);
        }
        if (fd < 0) return;
        std::string head;
        char buffer[4096];
        while (!stop_ && head.find("\r\n\r\n") == std::string::npos) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0) continue;
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            head_ = head;
        }
        behaviour_(*this, fd);
        close(fd);
    }

    Behaviour behaviour_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> sent_{0};
    std::mutex mutex_;
    std::string head_;
};

void Endless(HostileServer& server, int fd, const std::string& head, const std::string& piece) {
    if (!server.Write(fd, head)) return;
    std::string block;
    while (block.size() < 64 * 1024) block += piece;
    while (server.Write(fd, block)) {
    }
}

// One byte of `text` every `pause`, then nothing more.
void Trickle(HostileServer& server, int fd, const std::string& text,
             std::chrono::milliseconds pause) {
    for (char c : text) {
        if (!server.Write(fd, std::string(1, c))) return;
        for (auto until = Clock::now() + pause; Clock::now() < until && !server.Stopped();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    while (!server.Stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// One GET over plain HTTP, driven through the port as the transport does.
struct Exchange {
    bool sent = false;
    unsigned long sendError = 0;
    std::uint32_t status = 0;
    std::size_t bodyBytes = 0;
    bool readFailed = false;
    unsigned long readError = 0;
    double seconds = 0;
};

Exchange Get(CurlInternet& internet, int port, const std::wstring& headers = L"") {
    Exchange exchange;
    const auto start = Clock::now();
    InternetHandle session =
        internet.InternetOpen(L"Lumivo Device", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    InternetHandle connection =
        internet.InternetConnect(session, L"127.0.0.1", static_cast<unsigned short>(port),
                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InternetHandle request =
        internet.HttpOpenRequest(connection, L"GET", L"/", nullptr, nullptr, nullptr, 0, 0);
    exchange.sent = internet.HttpSendRequest(request, headers, kTerminatedText, nullptr, 0);
    if (!exchange.sent) exchange.sendError = internet.GetLastError();
    unsigned long size = sizeof exchange.status;
    internet.HttpQueryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                           &exchange.status, size, nullptr);
    for (char chunk[4096];;) {
        unsigned long read = 0;
        if (!internet.InternetReadFile(request, chunk, sizeof chunk, read)) {
            exchange.readFailed = true;
            exchange.readError = internet.GetLastError();
            break;
        }
        if (read == 0) break;
        exchange.bodyBytes += read;
    }
    internet.InternetCloseHandle(request);
    internet.InternetCloseHandle(connection);
    internet.InternetCloseHandle(session);
    exchange.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return exchange;
}

TEST(CurlHostileTest, ReplyWithoutEndIsCutAtTheCeilingAndNeverHeldPastIt) {
    {
        SCOPED_TRACE("exactly the ceiling");
        HostileServer server([](HostileServer& s, int fd) {
            s.Write(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kMaxReplyBytes) +
                            "\r\n\r\n" + std::string(kMaxReplyBytes, 'x'));
        });
        CurlInternet internet;
        const Exchange exchange = Get(internet, server.Port());
        EXPECT_TRUE(exchange.sent);
        EXPECT_FALSE(exchange.readFailed);
        EXPECT_EQ(exchange.bodyBytes, kMaxReplyBytes);
    }
    const struct {
        const char* name;
        const char* head;
        const char* piece;
    } endless[] = {
        {"a body without end", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", "x"},
        // curl itself refuses a head past a few hundred kilobytes.
        {"header lines without end", "HTTP/1.1 200 OK\r\n", "X-Padding: yyyyyyyyyyyyyyyy\r\n"},
    };
    for (const auto& one : endless) {
        SCOPED_TRACE(one.name);
        HostileServer server([&one](HostileServer& s, int fd) { Endless(s, fd, one.head, one.piece); });
        CurlInternet internet;
        const Exchange exchange = Get(internet, server.Port());
        // The status came, so the send succeeds; the reads end in the failure.
        EXPECT_TRUE(exchange.sent);
        EXPECT_EQ(exchange.status, 200u);
        EXPECT_TRUE(exchange.readFailed);
        EXPECT_LE(exchange.bodyBytes, kMaxReplyBytes);
        EXPECT_LT(exchange.seconds, 10.0);
        // The port hung up: beyond the ceiling only what the socket buffers took.
        EXPECT_LT(server.BytesSent(), 8 * kMaxReplyBytes);
    }
}

TEST(CurlHostileTest, TricklingReplyEndsAtTheRequestDeadline) {
    CurlTimeouts timeouts;
    timeouts.requestMs = 1500;  // the agent's is 120 s; a byte every 100 ms never stalls
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + std::string(40, 'z');
    {
        SCOPED_TRACE("inside the head: no status");
        HostileServer server([&reply](HostileServer& s, int fd) {
            Trickle(s, fd, reply, std::chrono::milliseconds(100));
        });
        CurlInternet internet(timeouts);
        const Exchange exchange = Get(internet, server.Port());
        EXPECT_FALSE(exchange.sent);
        EXPECT_EQ(exchange.sendError, kInternetTimeout);
        EXPECT_EQ(exchange.status, 0u);
        EXPECT_GE(exchange.seconds, 1.4);
        EXPECT_LT(exchange.seconds, 4.0);
    }
    {
        SCOPED_TRACE("inside the body: the status came");
        HostileServer server([&reply](HostileServer& s, int fd) {
            s.Write(fd, reply.substr(0, reply.find("\r\n\r\n") + 4));
            Trickle(s, fd, std::string(40, 'z'), std::chrono::milliseconds(100));
        });
        CurlInternet internet(timeouts);
        const Exchange exchange = Get(internet, server.Port());
        EXPECT_TRUE(exchange.sent);
        EXPECT_TRUE(exchange.readFailed);
        EXPECT_EQ(exchange.readError, kInternetTimeout);
        EXPECT_LT(exchange.seconds, 4.0);
    }
}

TEST(CurlHostileTest, TerminationSignalEndsTheRequestInFlightWithinASecond) {
    HostileServer trickling([](HostileServer& s, int fd) {
        Trickle(s, fd, "HTTP/1.1 200 OK\r\n\r\n", std::chrono::milliseconds(5000));
    });
    CurlInternet internet;
    std::thread signal([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        NoteTerminationSignal();
    });
    const Exchange cancelled = Get(internet, trickling.Port());
    signal.join();
    EXPECT_FALSE(cancelled.sent);
    EXPECT_EQ(cancelled.sendError, kInternetOperationCancelled);
    EXPECT_LT(cancelled.seconds, 1.5 + 0.5);

    // Once the loop has taken the termination up, requests run again.
    ClearTerminationSignal();
    HostileServer plain([](HostileServer& s, int fd) {
        s.Write(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
    });
    const Exchange answered = Get(internet, plain.Port());
    EXPECT_TRUE(answered.sent);
    EXPECT_EQ(answered.bodyBytes, 2u);
}

// The core widens header text with the locale's multibyte conversion; the
// port must narrow it back to the same bytes, or refuse it whole.
TEST(CurlHostileTest, HeaderTextReachesTheWireWithTheBytesTheCoreHad) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    HostileServer server([](HostileServer& s, int fd) {
        s.Write(fd, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    });
    CurlInternet internet;
    const Exchange exchange = Get(internet, server.Port(), ToWide("x-note: t\xc3\xb6k\r\n"));
    EXPECT_TRUE(exchange.sent);
    EXPECT_NE(server.RequestHead().find("\r\nx-note: t\xc3\xb6k\r\n"), std::string::npos)
        << server.RequestHead();

    // A lone surrogate has no multibyte form: nothing goes out.
    const Exchange refused = Get(internet, server.Port(), std::wstring(L"x-note: ") + L'\xD800');
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.sendError, kErrorInvalidParameter);
    std::setlocale(LC_CTYPE, "C");
}

}  // namespace
}  // namespace lumivo
