// A plain OpenSSL client's resident memory: the agent's two requests per tick
// written and read by hand over TLS, one connection each, sessions resumed,
// no certificate check; the least a client of this service can hold.
// Prints the same lines as agent-memory (bench/memory_report.h).
// Usage: openssl-memory [ticks, default 1000]; LUMIVO_BENCH_PORT.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <openssl/ssl.h>

#include "base/constants.h"
#include "base/text.h"
#include "bench/memory_report.h"

namespace {

class PlainClient {
  public:
    explicit PlainClient(int port) : port_(port), ctx_(SSL_CTX_new(TLS_client_method())) {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
        // devcloud ends its replies without close_notify, which would spoil the session.
        SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
        // The service's base path: what follows the host in the base URL.
        const std::string base = lumivo::serviceBaseUrl;
        const std::size_t host = base.find("//") + 2;
        basePath_ = base.substr(base.find('/', host));
        hostHeader_ = base.substr(host, base.find('/', host) - host);
    }
    ~PlainClient() {
        if (session_ != nullptr) SSL_SESSION_free(session_);
        SSL_CTX_free(ctx_);
    }

    // One request on its own connection; the HTTP status, 0 when it failed.
    int Request(const char* method, const std::string& path, const std::string& body,
                const std::string& token, std::string& reply) {
        reply.clear();
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return 0;
        }
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        SSL_set_tlsext_host_name(ssl, "localhost");
        if (session_ != nullptr) SSL_set_session(ssl, session_);
        std::string request = std::string(method) + " " + basePath_ + path +
                              " HTTP/1.1\r\nHost: " + hostHeader_ + "\r\nx-access-token: " + token +
                              "\r\nContent-Type: application/x-www-form-urlencoded\r\n";
        if (body.size() > 0 || std::string(method) == "POST")
            request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        request += "Connection: close\r\n\r\n" + body;
        if (SSL_connect(ssl) == 1 &&
            SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
            char buffer[4096];
            for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;) reply.append(buffer, n);
        }
        // The session as it stands after the reply, with the tickets that came.
        SSL_SESSION* session = SSL_get1_session(ssl);
        if (session != nullptr) {
            if (session_ != nullptr) SSL_SESSION_free(session_);
            session_ = session;
        }
        SSL_shutdown(ssl);
        SSL_free(ssl);
        close(fd);
        int status = 0;
        if (reply.compare(0, 9, "HTTP/1.1 ") == 0) status = std::atoi(reply.c_str() + 9);
        const std::size_t end = reply.find("\r\n\r\n");
        reply = end == std::string::npos ? std::string() : reply.substr(end + 4);
        return status;
    }

  private:
    int port_;
    SSL_CTX* ctx_;
    SSL_SESSION* session_ = nullptr;
    std::string basePath_;
    std::string hostHeader_;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace lumivo;
    const char* portText = std::getenv("LUMIVO_BENCH_PORT");
    const int port = portText != nullptr ? std::atoi(portText) : 0;
    const int lastTicks = argc > 1 ? std::atoi(argv[1]) : 1000;
    PlainClient client(port);

    std::string reply;
    std::string token;
    std::string heartBeat;
    if (!bench::EnrolForTicks(client, "openssl-memory", token, heartBeat)) return 1;
    int failures = 0;
    for (int tick = 1; tick <= lastTicks; ++tick) {
        failures +=
            client.Request("POST", "connections/check-requests", "password=", token, reply) != 200;
        failures += client.Request("GET", heartBeat, "", token, reply) != 200;
        if (tick == 10 || tick == lastTicks) bench::PrintCheckpoint("openssl", tick);
    }
    bench::PrintMappings("openssl");
    if (failures > 0) std::fprintf(stderr, "openssl-memory: %d requests failed\n", failures);
    return failures > 0;
}
