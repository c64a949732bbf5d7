// devcloud's side of TLS session resumption, seen by a plain OpenSSL client:
// the tickets it hands out on full and on resumed connections.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "devcloud/devcloud_fixture.h"

namespace lumivo {
namespace {

struct Handshake {
    bool reused = false;
    int tickets = 0;  // NewSessionTicket messages that came with the reply
    std::size_t ticketBytes = 0;
};

int CountTicket(SSL* ssl, SSL_SESSION* session) {
    auto* handshake = static_cast<Handshake*>(SSL_get_app_data(ssl));
    ++handshake->tickets;
    const unsigned char* ticket = nullptr;
    SSL_SESSION_get0_ticket(session, &ticket, &handshake->ticketBytes);
    return 0;  // the client keeps its session through SSL_get1_session
}

// One request on a connection of its own, resuming *session when it is set;
// *session is then the connection's latest.
Handshake Connect(SSL_CTX* ctx, int port, SSL_SESSION*& session) {
    Handshake handshake;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SSL* ssl = SSL_new(ctx);
    SSL_set_app_data(ssl, &handshake);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    if (session != nullptr) SSL_set_session(ssl, session);
    const std::string request =
        "GET /api/ HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(SSL_connect(ssl), 1);
    EXPECT_GT(SSL_write(ssl, request.data(), static_cast<int>(request.size())), 0);
    char buffer[4096];
    while (SSL_read(ssl, buffer, sizeof buffer) > 0) {
    }
    handshake.reused = SSL_session_reused(ssl) == 1;
    if (session != nullptr) SSL_SESSION_free(session);
    session = SSL_get1_session(ssl);
    SSL_shutdown(ssl);  // without it the client drops the session
    SSL_free(ssl);
    close(fd);
    return handshake;
}

// A full handshake, then two resumed ones on the same session.
std::vector<Handshake> ThreeConnections(std::vector<std::string> options) {
    DevCloud cloud(std::move(options));
    EXPECT_TRUE(cloud.Start());
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    // devcloud ends its replies without close_notify, which would spoil the session.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, CountTicket);
    SSL_SESSION* session = nullptr;
    std::vector<Handshake> handshakes;
    for (int i = 0; i < 3; ++i) handshakes.push_back(Connect(ctx, cloud.port(), session));
    if (session != nullptr) SSL_SESSION_free(session);
    SSL_CTX_free(ctx);
    return handshakes;
}

TEST(TlsResumptionTest, ServerOptionsChangeTheTicketsOnFullAndResumedConnections) {
    const std::vector<Handshake> plain = ThreeConnections({});
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_FALSE(plain[0].reused);
    EXPECT_TRUE(plain[1].reused);
    EXPECT_GE(plain[1].tickets, 1);  // a new ticket on every connection
    EXPECT_TRUE(plain[2].reused);

    const std::vector<Handshake> noTicket = ThreeConnections({"--tls-no-resumed-ticket"});
    EXPECT_GE(noTicket[0].tickets, 1);
    EXPECT_TRUE(noTicket[1].reused);
    EXPECT_EQ(noTicket[1].tickets, 0);
    // The client's TLS 1.3 stack uses a ticket once: without a new one the
    // next connection is a full handshake again.
    EXPECT_FALSE(noTicket[2].reused);

    const std::vector<Handshake> stateful = ThreeConnections({"--tls-stateful-tickets"});
    EXPECT_TRUE(stateful[1].reused);
    EXPECT_TRUE(stateful[2].reused);
    // The ticket only names a session the server keeps.
    EXPECT_LT(stateful[0].ticketBytes, plain[0].ticketBytes / 2);
}

}  // namespace
}  // namespace lumivo
