#include "devcloud/wire.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "devcloud/service.h"

namespace lumivo::devcloud {

namespace {

constexpr std::size_t maxHeadBytes = 64 * 1024;
// Far above any device call; a larger declared body is refused before it is read.
constexpr std::size_t maxBodyBytes = 1024 * 1024;
// A connection that sends nothing at all for this long is closed.
constexpr int idleTimeoutSeconds = 30;
// From its first byte, the handshake and the request head have this long.
constexpr int headTimeoutSeconds = 10;
// A body (and an answer) gets the head's time plus one second per this many
// bytes, so a slow but honest link gets through and a drip does not.
constexpr std::size_t minimumBytesPerSecond = 64 * 1024;
// A connection past the cap gets this long to say what it wants.
constexpr int refusalTimeoutSeconds = 5;

using Clock = std::chrono::steady_clock;

Clock::time_point After(int seconds) { return Clock::now() + std::chrono::seconds(seconds); }

Clock::time_point AfterForBytes(std::size_t bytes) {
    return After(headTimeoutSeconds + static_cast<int>(bytes / minimumBytesPerSecond));
}

// Waits, until the deadline, for the socket to be ready for what the last
// TLS call on it asked; false on a time-out or a failure that waiting
// cannot mend. The sockets are non-blocking, so no single read or write can
// outlast the deadline.
bool WaitForSsl(SSL* ssl, int result, Clock::time_point deadline) {
    const int error = SSL_get_error(ssl, result);
    const short events =
        error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (events == 0) return false;
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{SSL_get_fd(ssl), events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

// SSL_read until the deadline: the bytes read, or 0 when none will come.
int SslRead(SSL* ssl, char* buffer, int size, Clock::time_point deadline) {
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(ssl, buffer, size);
        if (n > 0) return n;
        if (!WaitForSsl(ssl, n, deadline)) return 0;
    }
}

bool SslAccept(SSL* ssl, Clock::time_point deadline) {
    for (;;) {
        ERR_clear_error();
        const int n = SSL_accept(ssl);
        if (n == 1) return true;
        if (!WaitForSsl(ssl, n, deadline)) return false;
    }
}

// The bytes written before the first failure or the deadline.
std::size_t SslWriteAll(SSL* ssl, const char* data, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        const int chunk = static_cast<int>(std::min<std::size_t>(size - done, 1 << 20));
        ERR_clear_error();
        const int written = SSL_write(ssl, data + done, chunk);
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else if (!WaitForSsl(ssl, written, deadline))
            break;
    }
    return done;
}

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
        case 415:
            return "Unsupported Media Type";
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

bool IsTokenChar(unsigned char c) {
    return c > 0x20 && c < 0x7f && std::strchr("\"(),/:;<=>?@[\\]{}", c) == nullptr;
}

// Lines are split at CR LF only: any other control byte (a bare LF or CR, a
// NUL) would be read one way here and another way by some other parser, so
// a head that holds one is refused.
bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
    return false;
}

// The request head split into its parts; false when it is not well-formed
// HTTP/1.x.
bool ParseHead(const std::string& head, LoggedRequest& entry) {
    std::size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    std::size_t s1 = requestLine.find(' ');
    std::size_t s2 = requestLine.rfind(' ');
    if (s1 == std::string::npos || s2 == s1) return false;
    entry.method = requestLine.substr(0, s1);
    entry.path = requestLine.substr(s1 + 1, s2 - s1 - 1);
    if (requestLine.compare(s2 + 1, 7, "HTTP/1.") != 0 || HasControlByte(requestLine)) return false;
    bool wellFormed = true;
    for (unsigned char c : entry.method) wellFormed = wellFormed && IsTokenChar(c);
    std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) continue;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        const std::string name = line.substr(0, colon);
        for (unsigned char c : name) wellFormed = wellFormed && IsTokenChar(c);
        wellFormed = wellFormed && !HasControlByte(line);
        entry.headers.emplace_back(name, Trim(line.substr(colon + 1)));
    }
    return wellFormed;
}

// One request as it comes in: the bytes read so far and its framing.
struct Incoming {
    std::string rest;  // the bytes after the head: the body's start
    LoggedRequest entry;
    bool wellFormed = false;
    std::size_t contentLength = 0;
    bool chunked = false;
    bool expectContinue = false;
};

enum class HeadRead { whole, tooLarge, cut };

void ReadFraming(Incoming& in) {
    bool lengthSeen = false;
    for (const auto& [name, value] : in.entry.headers) {
        if (EqualsNoCase(name, "Content-Length")) {
            char* end = nullptr;
            unsigned long long n = std::strtoull(value.c_str(), &end, 10);
            if (!std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' ||
                (lengthSeen && in.contentLength != n))
                in.wellFormed = false;
            in.contentLength = static_cast<std::size_t>(n);
            lengthSeen = true;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            in.chunked = true;
        } else if (EqualsNoCase(name, "Expect") && EqualsNoCase(value, "100-continue")) {
            in.expectContinue = true;
        }
    }
}

// Reads up to the empty line that ends the head; on a cut, in.rest holds
// what came.
HeadRead ReadHead(SSL* ssl, Incoming& in, Clock::time_point deadline) {
    std::string buffer;
    char chunk[16384];
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > maxHeadBytes) return HeadRead::tooLarge;
        int n = SslRead(ssl, chunk, sizeof chunk, deadline);
        if (n <= 0) {
            in.rest = std::move(buffer);
            return HeadRead::cut;
        }
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    in.entry.receivedMs = NowMs();
    in.entry.head = buffer.substr(0, headEnd + 4);
    in.rest = buffer.substr(headEnd + 4);
    in.wellFormed = ParseHead(in.entry.head, in.entry);
    ReadFraming(in);
    return HeadRead::whole;
}

// The status a request is refused with before its body is read, or 0.
int Refusal(const Incoming& in, std::string& message) {
    if (!in.wellFormed) {
        message = "Malformed request";
        return 400;
    }
    if (in.chunked) {
        message = "Chunked bodies are not supported; send Content-Length";
        return 411;
    }
    if (in.contentLength > maxBodyBytes) {
        message = "Request body too large";
        return 413;
    }
    return 0;
}

void ReadBody(SSL* ssl, Incoming& in) {
    const Clock::time_point deadline = AfterForBytes(in.contentLength);
    std::string& body = in.rest;
    if (in.expectContinue && body.size() < in.contentLength) {
        static const char continueLine[] = "HTTP/1.1 100 Continue\r\n\r\n";
        SslWriteAll(ssl, continueLine, sizeof continueLine - 1, deadline);
    }
    body.reserve(in.contentLength);  // at most maxBodyBytes: no doubling past it
    char chunk[16384];
    while (body.size() < in.contentLength) {
        int n = SslRead(ssl, chunk,
                        static_cast<int>(std::min(sizeof chunk, in.contentLength - body.size())),
                        deadline);
        if (n <= 0) break;
        body.append(chunk, static_cast<std::size_t>(n));
    }
    in.entry.complete = body.size() >= in.contentLength;
    body.resize(std::min(body.size(), in.contentLength));
    in.entry.body = std::move(body);
}

// How much of the answer a dropping fault lets out.
std::size_t CutPoint(const std::string& answer, long dropAfterBytes) {
    if (dropAfterBytes >= 0) return std::min(answer.size(), static_cast<std::size_t>(dropAfterBytes));
    std::size_t bodyStart = answer.find("\r\n\r\n");
    bodyStart = bodyStart == std::string::npos ? answer.size() : bodyStart + 4;
    if (bodyStart < answer.size()) return bodyStart + (answer.size() - bodyStart) / 2;
    return bodyStart / 2;
}

bool Resolve(const std::string& address, int port, sockaddr_storage& out, socklen_t& length) {
    // Only the full forms: getaddrinfo alone also takes "127.1" and the like.
    unsigned char bytes[sizeof(in6_addr)];
    if (inet_pton(AF_INET, address.c_str(), bytes) != 1 &&
        inet_pton(AF_INET6, address.c_str(), bytes) != 1)
        return false;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    std::memcpy(&out, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    freeaddrinfo(found);
    const auto netPort = htons(static_cast<std::uint16_t>(port));
    if (out.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&out)->sin6_port = netPort;
    else
        reinterpret_cast<sockaddr_in*>(&out)->sin_port = netPort;
    return true;
}

std::size_t EntryBytes(const LoggedRequest& e) {
    std::size_t bytes = 64 + e.method.size() + e.path.size() + e.head.size() + e.body.size() +
                        e.reply.size();
    for (const auto& [name, value] : e.headers) bytes += name.size() + value.size();
    return bytes;
}

}  // namespace

bool IsNumericAddress(const std::string& text) {
    sockaddr_storage address{};
    socklen_t length = 0;
    return Resolve(text, 0, address, length);
}

std::string UrlHost(const std::string& address) {
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

// --- WireRecorder ---

void WireRecorder::DropOldest() {
    // The newest entry stays, whatever its size.
    while (log_.size() > 1 && (log_.size() > maxEntries_ || bytes_ > maxBytes_)) {
        bytes_ -= EntryBytes(log_.front());
        log_.pop_front();
        ++firstSequence_;
    }
}

std::uint64_t WireRecorder::Add(LoggedRequest entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry.id = firstSequence_ + log_.size();
    bytes_ += EntryBytes(entry);
    log_.push_back(std::move(entry));
    const std::uint64_t id = log_.back().id;
    DropOldest();
    return id;
}

void WireRecorder::SetReply(std::uint64_t sequence, int status, const std::string& written) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sequence < firstSequence_ || sequence - firstSequence_ >= log_.size()) return;
    LoggedRequest& entry = log_[sequence - firstSequence_];
    bytes_ -= EntryBytes(entry);
    entry.status = status;
    entry.reply.assign(written, 0, std::min(written.size(), maxReplyBytes));
    entry.replyTruncated = written.size() > maxReplyBytes;
    bytes_ += EntryBytes(entry);
    DropOldest();
}

std::vector<LoggedRequest> WireRecorder::Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<LoggedRequest>(log_.begin(), log_.end());
}

std::vector<std::uint64_t> WireRecorder::Ids(std::uint64_t after) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint64_t> ids;
    for (const LoggedRequest& entry : log_)
        if (entry.id > after) ids.push_back(entry.id);
    return ids;
}

bool WireRecorder::Find(std::uint64_t id, LoggedRequest& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < firstSequence_ || id - firstSequence_ >= log_.size()) return false;
    out = log_[id - firstSequence_];
    return true;
}

std::uint64_t WireRecorder::FirstId() {
    std::lock_guard<std::mutex> lock(mutex_);
    return firstSequence_;
}

void WireRecorder::ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    firstSequence_ += log_.size();
    log_.clear();
    bytes_ = 0;
}

std::size_t WireRecorder::LogBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
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

bool TlsFront::Start(const FrontOptions& options, std::string& error) {
    handler_ = options.handler;
    maxConnections_ = options.maxConnections;
    maxPerAddress_ = options.maxConnectionsPerAddress;
    ctx_.reset(SSL_CTX_new(TLS_server_method()));
    if (ctx_ && options.tls.noResumedTicket)
        SSL_CTX_set_info_callback(ctx_.get(), SendNoTicketOnResumption);
    if (ctx_ && options.tls.statefulTickets) SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_TICKET);
    if (ctx_ && options.tls.legacy) {
        SSL_CTX_set_security_level(ctx_.get(), 0);
        SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx_.get(), "DEFAULT:@SECLEVEL=0");
    }
    if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_.get(), options.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_.get(), options.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx_.get()) != 1) {
        char buffer[256] = "";
        ERR_error_string_n(ERR_get_error(), buffer, sizeof buffer);
        error = std::string("cannot load the certificate: ") + buffer;
        return false;
    }
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    wakeRead_.reset(pipeEnds[0]);
    wakeWrite_.reset(pipeEnds[1]);
    // "localhost" may resolve to ::1 first; a machine without IPv6 has
    // 127.0.0.1 only.
    const bool loopbackDefault = options.addresses.empty();
    const std::vector<std::string> addresses =
        loopbackDefault ? std::vector<std::string>{"127.0.0.1", "::1"} : options.addresses;
    // With a free port asked for, the chosen port may be taken on another
    // address; then try again.
    for (int attempt = 0;; ++attempt) {
        if (Listen(addresses, loopbackDefault, options.port, error)) break;
        if (options.port != 0 || attempt == 20) return false;
    }
    try {
        acceptThread_ = std::thread(&TlsFront::AcceptLoop, this);
    } catch (const std::system_error& e) {
        error = std::string("cannot start the accepting thread: ") + e.what();
        return false;
    }
    return true;
}

bool TlsFront::Listen(const std::vector<std::string>& addresses, bool loopbackDefault, int port,
                      std::string& error) {
    listeners_.clear();
    for (const std::string& address : addresses) {
        sockaddr_storage addr{};
        socklen_t length = 0;
        if (!Resolve(address, port, addr, length)) {
            error = address + " is not an IPv4 or IPv6 address";
            return false;
        }
        UniqueFd fd(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int yes = 1;
        if (fd) {
            setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            // "::" then means IPv6 only, so "0.0.0.0" can be bound beside it.
            if (addr.ss_family == AF_INET6)
                setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        }
        if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
            ::listen(fd.get(), 128) != 0) {
            const int failure = errno;
            if (loopbackDefault && addr.ss_family == AF_INET6 &&
                (failure == EADDRNOTAVAIL || failure == EAFNOSUPPORT))
                continue;  // no ::1 on this machine
            error = "cannot listen on " + UrlHost(address) + ":" + std::to_string(port) + ": " +
                    std::strerror(failure);
            listeners_.clear();
            return false;
        }
        if (port == 0) {
            length = sizeof addr;
            getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &length);
            port = ntohs(addr.ss_family == AF_INET6
                             ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                             : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
        }
        listeners_.push_back(std::move(fd));
    }
    port_ = port;
    return true;
}

void TlsFront::AcceptLoop() {
    std::vector<pollfd> fds;
    for (const UniqueFd& fd : listeners_) fds.push_back({fd.get(), POLLIN, 0});
    fds.push_back({wakeRead_.get(), POLLIN, 0});
    while (!stopping_) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds.back().revents != 0) break;
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0) continue;
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            UniqueFd client(::accept4(fds[i].fd, reinterpret_cast<sockaddr*>(&peer), &length,
                                      SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!client) continue;
            char host[NI_MAXHOST] = "";
            getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST);
            Admit(std::move(client), host);
        }
    }
}

// Each connection gets its own thread, up to the cap; the next ones a short
// one that answers 503; past the reserve they are closed unanswered, and so
// is a connection from a peer that already holds its share.
void TlsFront::Admit(UniqueFd client, const std::string& peer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    const auto found = perAddress_.find(peer);
    if (found != perAddress_.end() && found->second >= maxPerAddress_) return;
    const bool refuse = activeConnections_ >= maxConnections_;
    if (refuse && refusingConnections_ >= refusalReserve) return;
    const int fd = client.get();
    try {
        std::thread(&TlsFront::Serve, this, std::move(client), refuse, peer).detach();
    } catch (const std::system_error& e) {
        // The thread's copy of the socket is gone with it: the client sees
        // the connection closed, the service goes on.
        std::fprintf(stderr, "devcloud: cannot start a thread for a connection: %s\n", e.what());
        return;
    }
    ++perAddress_[peer];
    openSockets_.insert(fd);
    ++(refuse ? refusingConnections_ : activeConnections_);
}

void TlsFront::Serve(UniqueFd client, bool refuse, const std::string& peer) {
    ServeConnection(client.get(), refuse);
    std::lock_guard<std::mutex> lock(mutex_);
    openSockets_.erase(client.get());
    client.reset();
    if (--perAddress_[peer] <= 0) perAddress_.erase(peer);
    --(refuse ? refusingConnections_ : activeConnections_);
    changed_.notify_all();
}

bool TlsFront::SleepUnlessStopped(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return stopping_.load(); });
}

void TlsFront::ServeConnection(int fd, bool refuse) {
    // Nothing at all for the idle time: closed. From the first byte on, the
    // handshake and the head have their own, shorter deadline.
    pollfd first{fd, POLLIN, 0};
    if (::poll(&first, 1, (refuse ? refusalTimeoutSeconds : idleTimeoutSeconds) * 1000) <= 0)
        return;
    SslPtr ssl(SSL_new(ctx_.get()));
    if (!ssl) return;
    SSL_set_fd(ssl.get(), fd);
    const Clock::time_point headDeadline =
        After(refuse ? refusalTimeoutSeconds : headTimeoutSeconds);
    if (!SslAccept(ssl.get(), headDeadline)) return;
    if (!Exchange(ssl.get(), refuse, headDeadline)) return;
    ERR_clear_error();
    SSL_shutdown(ssl.get());
    // A client still sending a body that was refused would get a reset,
    // which may throw away the refusal before it reads it: take in (and drop)
    // what it still sends, for a short while.
    ::shutdown(fd, SHUT_WR);
    const Clock::time_point drainDeadline = After(1);
    char sink[16384];
    std::size_t drained = 0;
    for (;;) {
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   drainDeadline - Clock::now())
                                   .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || drained > maxBodyBytes || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0) break;
        drained += static_cast<std::size_t>(n);
    }
}

// One request per connection: the answer says "Connection: close". False
// when the connection is to be cut without a TLS close notice.
bool TlsFront::Exchange(SSL* ssl, bool refuse, Clock::time_point headDeadline) {
    Incoming in;
    switch (ReadHead(ssl, in, headDeadline)) {
        case HeadRead::tooLarge: {
            std::string answer = MakeResponse(400, MessageBody("Request head too large"));
            SslWriteAll(ssl, answer.data(), answer.size(), AfterForBytes(answer.size()));
            return true;
        }
        case HeadRead::cut:
            if (!in.rest.empty()) {
                in.entry.head = in.rest;
                ParseHead(in.rest, in.entry);
                recorder_.Add(std::move(in.entry));
            }
            return false;
        case HeadRead::whole:
            break;
    }

    std::string message = "Too many connections; try again later";
    const int refusal = refuse ? 503 : Refusal(in, message);
    if (refusal != 0) {
        in.entry.body = in.rest;
        std::string answer = MakeResponse(refusal, MessageBody(message));
        Reply(ssl, std::move(in.entry), answer, answer.size());
        return true;
    }

    ReadBody(ssl, in);
    if (!in.entry.complete) {
        recorder_.Add(std::move(in.entry));
        return false;
    }

    Fault fault;
    const bool faulted = recorder_.TakeFault(in.entry.path, fault);
    if (faulted && fault.delayMs > 0 && !SleepUnlessStopped(fault.delayMs)) {
        recorder_.Add(std::move(in.entry));
        return false;
    }
    std::string answer;
    if (faulted && fault.status != 0) {
        answer = MakeResponse(fault.status, fault.body);
    } else {
        int status = 500;
        std::string body = MessageBody("The service did not answer");
        if (handler_) handler_(in.entry, status, body);
        answer = MakeResponse(status, body);
    }
    if (faulted && fault.drop) {
        Reply(ssl, std::move(in.entry), answer, CutPoint(answer, fault.dropAfterBytes));
        ::shutdown(SSL_get_fd(ssl), SHUT_RDWR);
        return false;
    }
    Reply(ssl, std::move(in.entry), answer, answer.size());
    return true;
}

// Writes the first `length` bytes of the answer; logs the request with what
// went out.
void TlsFront::Reply(SSL* ssl, LoggedRequest entry, const std::string& answer,
                     std::size_t length) {
    const std::uint64_t id = recorder_.Add(std::move(entry));
    const std::size_t written =
        length > 0 ? SslWriteAll(ssl, answer.data(), length, AfterForBytes(length)) : 0;
    const std::size_t headEnd = answer.find("\r\n\r\n");
    const bool headOut = headEnd != std::string::npos && written >= headEnd + 4;
    recorder_.SetReply(id, headOut ? ResponseStatus(answer) : 0,
                       answer.substr(0, std::min(written, WireRecorder::maxReplyBytes + 1)));
}

void TlsFront::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && activeConnections_ == 0 && refusingConnections_ == 0 &&
            !acceptThread_.joinable())
            return;
        stopping_ = true;
        changed_.notify_all();
    }
    if (wakeWrite_) {
        char byte = 1;
        (void)!::write(wakeWrite_.get(), &byte, 1);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
        changed_.wait(lock,
                      [this] { return activeConnections_ == 0 && refusingConnections_ == 0; });
    }
    listeners_.clear();
    wakeRead_.reset();
    wakeWrite_.reset();
    ctx_.reset();
}

}  // namespace lumivo::devcloud
