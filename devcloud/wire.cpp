#include "devcloud/wire.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace lumivo::devcloud {

namespace {

constexpr std::size_t maxHeadBytes = 64 * 1024;
constexpr std::size_t maxBodyBytes = 16 * 1024 * 1024;
constexpr int socketTimeoutSeconds = 30;

bool EqualsNoCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

void SetTimeouts(int fd) {
    timeval tv{};
    tv.tv_sec = socketTimeoutSeconds;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool SslWriteAll(SSL* ssl, const char* data, std::size_t size) {
    while (size > 0) {
        int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
        int written = SSL_write(ssl, data, chunk);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 409:
            return "Conflict";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string MakeResponse(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string MessageBody(const std::string& message) {
    // The messages are fixed texts without quotes or backslashes.
    return "{\"message\":\"" + message + "\"}";
}

int ResponseStatus(const std::string& response) {
    // "HTTP/1.1 200 ..."
    if (response.size() < 12 || response.compare(0, 5, "HTTP/") != 0) return 0;
    std::size_t space = response.find(' ');
    if (space == std::string::npos) return 0;
    return std::atoi(response.c_str() + space + 1);
}

// The request head split into its parts; false when it is not HTTP/1.x.
bool ParseHead(const std::string& head, LoggedRequest& entry) {
    std::size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    std::size_t s1 = requestLine.find(' ');
    std::size_t s2 = requestLine.rfind(' ');
    if (s1 == std::string::npos || s2 == s1) return false;
    entry.method = requestLine.substr(0, s1);
    entry.path = requestLine.substr(s1 + 1, s2 - s1 - 1);
    if (requestLine.compare(s2 + 1, 7, "HTTP/1.") != 0) return false;
    std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) continue;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        entry.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return true;
}

}  // namespace

// --- WireRecorder ---

std::uint64_t WireRecorder::Add(LoggedRequest entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::move(entry));
    if (log_.size() > maxLogEntries) {
        log_.pop_front();
        ++firstSequence_;
    }
    return firstSequence_ + log_.size() - 1;
}

void WireRecorder::SetStatus(std::uint64_t sequence, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sequence >= firstSequence_ && sequence - firstSequence_ < log_.size())
        log_[sequence - firstSequence_].status = status;
}

std::vector<LoggedRequest> WireRecorder::Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<LoggedRequest>(log_.begin(), log_.end());
}

void WireRecorder::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    firstSequence_ += log_.size();
    log_.clear();
}

void WireRecorder::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
}

void WireRecorder::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

std::vector<Fault> WireRecorder::Faults() {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

bool WireRecorder::TakeFault(const std::string& path, Fault& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->path != path) continue;
        out = *it;
        if (--it->count <= 0) faults_.erase(it);
        return true;
    }
    return false;
}

// --- TlsFront ---

// Called before each step of a handshake: once the client's Finished is in,
// a resumed connection is told to send no tickets.
void SendNoTicketOnResumption(const SSL* ssl, int where, int /*ret*/) {
    if ((where & SSL_CB_ACCEPT_LOOP) && SSL_get_state(ssl) == TLS_ST_SR_FINISHED &&
        SSL_session_reused(ssl)) {
        SSL_set_num_tickets(const_cast<SSL*>(ssl), 0);
    }
}

TlsFront::~TlsFront() { Stop(); }

bool TlsFront::Start(int port, const std::string& certFile, const std::string& keyFile,
                     int upstreamPort, const TlsOptions& tls, std::string& error) {
    upstreamPort_ = upstreamPort;
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (ctx_ != nullptr && tls.noResumedTicket)
        SSL_CTX_set_info_callback(ctx_, SendNoTicketOnResumption);
    if (ctx_ != nullptr && tls.statefulTickets) SSL_CTX_set_options(ctx_, SSL_OP_NO_TICKET);
    if (ctx_ != nullptr && tls.legacy) {
        SSL_CTX_set_security_level(ctx_, 0);
        SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx_, "DEFAULT:@SECLEVEL=0");
    }
    if (ctx_ == nullptr || SSL_CTX_use_certificate_chain_file(ctx_, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx_) != 1) {
        char buffer[256] = "";
        ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
        error = std::string("cannot load the certificate: ") + buffer;
        return false;
    }
    if (pipe2(wakePipe_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // With a free port asked for, the IPv6 twin of the chosen IPv4 port may
    // be taken; then try another pair.
    for (int attempt = 0;; ++attempt) {
        if (Listen(port, error)) break;
        if (port != 0 || attempt == 20) return false;
    }
    acceptThread_ = std::thread(&TlsFront::AcceptLoop, this);
    return true;
}

bool TlsFront::Listen(int port, std::string& error) {
    for (int fd : listeners_) ::close(fd);
    listeners_.clear();

    int v4 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(v4, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_port = htons(static_cast<std::uint16_t>(port));
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (v4 < 0 || ::bind(v4, reinterpret_cast<sockaddr*>(&a4), sizeof a4) != 0 ||
        ::listen(v4, 64) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        if (v4 >= 0) ::close(v4);
        return false;
    }
    socklen_t len = sizeof a4;
    getsockname(v4, reinterpret_cast<sockaddr*>(&a4), &len);
    port_ = ntohs(a4.sin_port);
    listeners_.push_back(v4);

    // "localhost" may resolve to ::1 first.
    int v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (v6 < 0) return true;  // no IPv6 on this machine
    setsockopt(v6, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(v6, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(static_cast<std::uint16_t>(port_));
    a6.sin6_addr = in6addr_loopback;
    if (::bind(v6, reinterpret_cast<sockaddr*>(&a6), sizeof a6) != 0 || ::listen(v6, 64) != 0) {
        int failure = errno;
        ::close(v6);
        if (failure == EADDRNOTAVAIL || failure == EAFNOSUPPORT) return true;  // no ::1
        error = "cannot listen on [::1]:" + std::to_string(port_) + ": " + std::strerror(failure);
        ::close(v4);
        listeners_.clear();
        return false;
    }
    listeners_.push_back(v6);
    return true;
}

void TlsFront::AcceptLoop() {
    std::vector<pollfd> fds;
    for (int fd : listeners_) fds.push_back({fd, POLLIN, 0});
    fds.push_back({wakePipe_[0], POLLIN, 0});
    while (!stopping_) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds.back().revents != 0) break;
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            int client = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                ::close(client);
                continue;
            }
            openSockets_.insert(client);
            ++activeConnections_;
            std::thread(&TlsFront::Serve, this, client).detach();
        }
    }
}

void TlsFront::Serve(int fd) {
    ServeConnection(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    openSockets_.erase(fd);
    ::close(fd);
    --activeConnections_;
    changed_.notify_all();
}

bool TlsFront::SleepUnlessStopped(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return stopping_.load(); });
}

// One request per connection: the answer says "Connection: close".
void TlsFront::ServeConnection(int fd) {
    SetTimeouts(fd);
    SSL* ssl = SSL_new(ctx_);
    if (ssl == nullptr) return;
    SSL_set_fd(ssl, fd);
    bool orderly = true;  // false: cut without a TLS close notice
    auto finish = [&] {
        if (orderly) SSL_shutdown(ssl);
        SSL_free(ssl);
    };
    if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        return;
    }

    std::string buffer;
    char chunk[16384];
    std::size_t headEnd = std::string::npos;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > maxHeadBytes) {
            std::string answer = MakeResponse(400, MessageBody("Request head too large"));
            SslWriteAll(ssl, answer.data(), answer.size());
            finish();
            return;
        }
        int n = SSL_read(ssl, chunk, sizeof chunk);
        if (n <= 0) {
            if (!buffer.empty()) {
                LoggedRequest partial;
                partial.head = buffer;
                ParseHead(buffer, partial);
                recorder_.Add(std::move(partial));
            }
            SSL_free(ssl);
            return;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }

    LoggedRequest entry;
    entry.receivedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    entry.head = buffer.substr(0, headEnd + 4);
    std::string rest = buffer.substr(headEnd + 4);
    bool wellFormed = ParseHead(entry.head, entry);

    std::size_t contentLength = 0;
    bool lengthSeen = false;
    bool chunked = false;
    bool expectContinue = false;
    for (const auto& [name, value] : entry.headers) {
        if (EqualsNoCase(name, "Content-Length")) {
            char* end = nullptr;
            unsigned long long n = std::strtoull(value.c_str(), &end, 10);
            if (!std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' ||
                (lengthSeen && contentLength != n))
                wellFormed = false;
            contentLength = static_cast<std::size_t>(n);
            lengthSeen = true;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            chunked = true;
        } else if (EqualsNoCase(name, "Expect") && EqualsNoCase(value, "100-continue")) {
            expectContinue = true;
        }
    }

    std::string refusal;
    int refusalStatus = 0;
    if (!wellFormed) {
        refusalStatus = 400;
        refusal = "Malformed request";
    } else if (chunked) {
        refusalStatus = 411;
        refusal = "Chunked bodies are not supported; send Content-Length";
    } else if (contentLength > maxBodyBytes) {
        refusalStatus = 413;
        refusal = "Request body too large";
    }
    if (refusalStatus != 0) {
        entry.body = rest;
        std::uint64_t seq = recorder_.Add(std::move(entry));
        std::string answer = MakeResponse(refusalStatus, MessageBody(refusal));
        if (SslWriteAll(ssl, answer.data(), answer.size())) recorder_.SetStatus(seq, refusalStatus);
        finish();
        return;
    }

    if (expectContinue && rest.size() < contentLength) {
        static const char continueLine[] = "HTTP/1.1 100 Continue\r\n\r\n";
        SslWriteAll(ssl, continueLine, sizeof continueLine - 1);
    }
    while (rest.size() < contentLength) {
        int n = SSL_read(ssl, chunk,
                         static_cast<int>(std::min(sizeof chunk, contentLength - rest.size())));
        if (n <= 0) break;
        rest.append(chunk, static_cast<std::size_t>(n));
    }
    entry.complete = rest.size() >= contentLength;
    rest.resize(std::min(rest.size(), contentLength));
    entry.body = rest;

    // The internal server gets the same request line and headers, with the
    // framing made plain: a fixed length and one request per connection.
    std::string upstream = entry.head.substr(0, entry.head.find("\r\n") + 2);
    for (const auto& [name, value] : entry.headers) {
        if (EqualsNoCase(name, "Content-Length") || EqualsNoCase(name, "Connection") ||
            EqualsNoCase(name, "Expect") || EqualsNoCase(name, "Keep-Alive"))
            continue;
        upstream += name + ": " + value + "\r\n";
    }
    upstream += "Content-Length: " + std::to_string(entry.body.size()) +
                "\r\nConnection: close\r\n\r\n" + entry.body;

    const bool complete = entry.complete;
    const std::string path = entry.path;
    std::uint64_t seq = recorder_.Add(std::move(entry));
    if (!complete) {
        SSL_free(ssl);
        return;
    }

    Fault fault;
    bool faulted = recorder_.TakeFault(path, fault);
    if (faulted && fault.delayMs > 0 && !SleepUnlessStopped(fault.delayMs)) {
        SSL_free(ssl);
        return;
    }
    std::string answer;
    if (faulted && fault.status != 0) {
        answer = MakeResponse(fault.status, fault.body);
    } else if (!Relay(upstream, answer)) {
        answer = MakeResponse(502, MessageBody("The service did not answer"));
    }

    if (faulted && fault.drop) {
        std::size_t cut;
        std::size_t bodyStart = answer.find("\r\n\r\n");
        bodyStart = bodyStart == std::string::npos ? answer.size() : bodyStart + 4;
        if (fault.dropAfterBytes >= 0)
            cut = std::min(answer.size(), static_cast<std::size_t>(fault.dropAfterBytes));
        else if (bodyStart < answer.size())
            cut = bodyStart + (answer.size() - bodyStart) / 2;
        else
            cut = bodyStart / 2;
        if (cut >= bodyStart) recorder_.SetStatus(seq, ResponseStatus(answer));
        if (cut > 0) SslWriteAll(ssl, answer.data(), cut);
        orderly = false;
        ::shutdown(fd, SHUT_RDWR);
        finish();
        return;
    }
    if (SslWriteAll(ssl, answer.data(), answer.size()))
        recorder_.SetStatus(seq, ResponseStatus(answer));
    finish();
}

bool TlsFront::Relay(const std::string& request, std::string& response) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    SetTimeouts(fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(upstreamPort_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    for (std::size_t sent = 0; ok && sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            ok = false;
        else
            sent += static_cast<std::size_t>(n);
    }
    char chunk[16384];
    while (ok) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0) ok = false;
        if (n <= 0) break;
        response.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok && ResponseStatus(response) != 0;
}

void TlsFront::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && activeConnections_ == 0 && !acceptThread_.joinable()) return;
        stopping_ = true;
        changed_.notify_all();
    }
    if (wakePipe_[1] >= 0) {
        char byte = 1;
        (void)!::write(wakePipe_[1], &byte, 1);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
        changed_.wait(lock, [this] { return activeConnections_ == 0; });
    }
    for (int fd : listeners_) ::close(fd);
    listeners_.clear();
    for (int& fd : wakePipe_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    if (ctx_) SSL_CTX_free(ctx_);
    ctx_ = nullptr;
}

}  // namespace lumivo::devcloud
