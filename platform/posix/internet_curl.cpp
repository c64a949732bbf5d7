#include "platform/posix/internet_curl.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "base/text.h"
#include "platform/posix/termination_signal.h"

namespace lumivo {

enum Kind { kSession, kConnection, kRequest };

struct CurlInternet::Object {
    int kind = kSession;
    // Session
    std::string userAgent;
    bool direct = false;
    // Connection (and the request's copy of it)
    std::string host;
    unsigned short port = 0;
    // Request
    std::string method;
    std::string path;
    bool secure = false;
    std::uint32_t securityFlags = 0;
    bool sent = false;
    long status = 0;
    std::string body;
    bool overLong = false;  // the body grew past kMaxReplyBytes
    std::size_t readOffset = 0;
    unsigned long readError = 0;  // a transfer cut short after the status: reads end with it
    // The first certificate error that the verify callback did not let through.
    int rejectedCertError = X509_V_OK;
};

namespace {

// The SSL_CTX slot that carries the request to the verify callback.
int RequestIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

bool IsDateError(int error) {
    return error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID ||
           error == X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD ||
           error == X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD;
}

bool IsUnknownAuthorityError(int error) {
    return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
           error == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE ||
           error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
           error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
}

// Lets through exactly the errors that the request's security flags ignore;
// every other verification failure still ends the handshake.
int VerifyCertificate(int preverifyOk, X509_STORE_CTX* store) {
    if (preverifyOk) return 1;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* request = static_cast<CurlInternet::Object*>(
        ssl ? SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), RequestIndex()) : nullptr);
    int error = X509_STORE_CTX_get_error(store);
    if (request == nullptr) return 0;
    const std::uint32_t flags = request->securityFlags;
    bool accepted =
        (IsDateError(error) && (flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID)) ||
        (IsUnknownAuthorityError(error) && (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA)) ||
        (error == X509_V_ERR_HOSTNAME_MISMATCH && (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID));
    if (accepted) {
        // curl reads SSL_get_verify_result() after the handshake: clear it too.
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    if (request->rejectedCertError == X509_V_OK) request->rejectedCertError = error;
    return 0;
}

// A verified chain is taken again for at most this long, so that a change to
// the certificate folder counts within the hour.
constexpr std::chrono::hours kVerifiedChainLifetime{1};

// The certificates the server sent, its own first.
std::vector<X509*> SentCertificates(X509_STORE_CTX* store) {
    std::vector<X509*> sent{X509_STORE_CTX_get0_cert(store)};
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store);
    for (int i = 0; i < sk_X509_num(chain); ++i) sent.push_back(sk_X509_value(chain, i));
    return sent;
}

// What a chain's verification depends on: the request's security flags, the
// host name the verification itself checks (if any) and every certificate the
// server sent (DER delimits itself, so the concatenation is unambiguous).
bool ChainKey(X509_STORE_CTX* store, std::uint32_t flags, std::string& key) {
    key.assign(reinterpret_cast<const char*>(&flags), sizeof flags);
    const char* host = X509_VERIFY_PARAM_get0_host(X509_STORE_CTX_get0_param(store), 0);
    key.append(host != nullptr ? host : "").push_back('\0');
    for (X509* cert : SentCertificates(store)) {
        unsigned char* der = nullptr;
        const int length = cert != nullptr ? i2d_X509(cert, &der) : 0;
        if (length <= 0) return false;
        key.append(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
        OPENSSL_free(der);
    }
    return true;
}

// True when every certificate the server sent is inside its dates now.
bool InsideDates(X509_STORE_CTX* store) {
    for (const X509* cert : SentCertificates(store)) {
        if (X509_cmp_current_time(X509_get0_notBefore(cert)) >= 0 ||
            X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0) {
            return false;
        }
    }
    return true;
}

struct SslSetup {
    X509_STORE* store;
    CurlInternet::Object* request;
    CurlInternet::VerifiedChain* verified;
};

// Verifies the server's chain (through VerifyCertificate), unless it is the
// chain let through last time under the same flags, not long ago and, where
// dates count, still inside them: then its signatures need no second check.
// Only a chain that was let through is kept; any other result forgets it.
int VerifyChain(X509_STORE_CTX* store, void* userData) {
    auto* setup = static_cast<SslSetup*>(userData);
    CurlInternet::VerifiedChain& verified = *setup->verified;
    const std::uint32_t flags = setup->request->securityFlags;
    std::string key;
    const bool keyed = ChainKey(store, flags, key);
    const auto now = std::chrono::steady_clock::now();
    if (keyed && !verified.key.empty() && key == verified.key &&
        now - verified.at < kVerifiedChainLifetime &&
        ((flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) || InsideDates(store))) {
        return 1;
    }
    ++verified.verifications;
    const bool accepted = X509_verify_cert(store) > 0;
    verified.key = accepted && keyed ? std::move(key) : std::string();
    verified.at = now;
    return accepted ? 1 : 0;
}

CURLcode SetUpSsl(CURL* /*curl*/, void* sslContext, void* userData) {
    auto* ctx = static_cast<SSL_CTX*>(sslContext);
    auto* setup = static_cast<SslSetup*>(userData);
    if (setup->store == nullptr) return CURLE_SSL_CACERT_BADFILE;
    // The trust store is parsed once per process and shared into every context.
    X509_STORE_up_ref(setup->store);
    SSL_CTX_set_cert_store(ctx, setup->store);
    SSL_CTX_set_ex_data(ctx, RequestIndex(), setup->request);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCertificate);
    SSL_CTX_set_cert_verify_callback(ctx, VerifyChain, setup);
    return CURLE_OK;
}

// Ends a transfer whose connection has made no progress for the receive and
// send time-out. curl's own connect time-out covers the TLS handshake too, and
// its low-speed check only starts after it: the handshake with a server that
// accepts and then stays silent would hold the agent for the whole connect
// time-out. Progress is what the kernel counts on the connected sockets.
// The kernel's TCP states (netinet/tcp.h names them, but clashes with linux/tcp.h).
constexpr unsigned kTcpEstablished = 1;
constexpr unsigned kTcpCloseWait = 8;

struct Watchdog {
    long limitSeconds = 0;
    std::vector<curl_socket_t> sockets;
    bool connected = false;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point lastProgress;
    std::chrono::steady_clock::time_point lastLook;  // of the sockets' counters
    bool timedOut = false;
    bool cancelled = false;  // by a termination signal
};

// curl calls the progress function many times per request; the counters of a
// 30 s limit need no closer look than this.
constexpr auto kWatchdogLookInterval = std::chrono::milliseconds(250);

curl_socket_t OpenSocket(void* userData, curlsocktype /*purpose*/, curl_sockaddr* address) {
    curl_socket_t fd = socket(address->family, address->socktype, address->protocol);
    if (fd != CURL_SOCKET_BAD) static_cast<Watchdog*>(userData)->sockets.push_back(fd);
    return fd;
}

int CloseSocket(void* userData, curl_socket_t fd) {
    auto& sockets = static_cast<Watchdog*>(userData)->sockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), fd), sockets.end());
    return close(fd);
}

int CheckProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* watchdog = static_cast<Watchdog*>(userData);
    // curl calls this at least once a second, also while nothing moves.
    if (TerminationSignalPending()) {
        watchdog->cancelled = true;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - watchdog->lastLook < kWatchdogLookInterval) return 0;
    watchdog->lastLook = now;
    bool established = false;
    std::uint64_t bytes = 0;
    for (curl_socket_t fd : watchdog->sockets) {
        tcp_info info{};
        socklen_t size = sizeof info;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) continue;
        if (info.tcpi_state != kTcpEstablished && info.tcpi_state != kTcpCloseWait) continue;
        established = true;
        bytes += info.tcpi_bytes_received + info.tcpi_bytes_acked;
    }
    if (!established || !watchdog->connected || bytes != watchdog->bytes) {
        // Still connecting (the connect time-out applies), or progress.
        watchdog->connected = watchdog->connected || established;
        watchdog->bytes = bytes;
        watchdog->lastProgress = now;
        return 0;
    }
    if (now - watchdog->lastProgress < std::chrono::seconds(watchdog->limitSeconds)) return 0;
    watchdog->timedOut = true;
    return 1;
}

// Keeps the body up to kMaxReplyBytes; a byte more ends the transfer (a
// count other than the one given is a write error to curl).
std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* request = static_cast<CurlInternet::Object*>(userData);
    const std::size_t bytes = size * count;
    if (bytes > kMaxReplyBytes - request->body.size()) {
        request->overLong = true;
        return 0;
    }
    request->body.append(data, bytes);
    return bytes;
}


unsigned long CertificateError(int x509Error) {
    if (IsDateError(x509Error)) return kInternetCertDateInvalid;
    if (IsUnknownAuthorityError(x509Error)) return kInternetInvalidCa;
    if (x509Error == X509_V_ERR_HOSTNAME_MISMATCH) return kInternetCertCnInvalid;
    if (x509Error == X509_V_ERR_CERT_REVOKED) return kInternetCertRevoked;
    return kInternetCertErrors;
}

// WinINet's number for a failed transfer.
unsigned long WinInetError(CURLcode code, const CurlInternet::Object& request) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kInternetUnrecognizedScheme;
        case CURLE_URL_MALFORMAT:
            return kInternetInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kInternetNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kInternetCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kInternetTimeout;
        case CURLE_PEER_FAILED_VERIFICATION:
            // A rejected chain was recorded by the callback; otherwise curl's own
            // host-name check failed.
            return request.rejectedCertError != X509_V_OK
                       ? CertificateError(request.rejectedCertError)
                       : kInternetCertCnInvalid;
        case CURLE_SSL_CONNECT_ERROR:
            return request.rejectedCertError != X509_V_OK
                       ? CertificateError(request.rejectedCertError)
                       : kInternetSecureChannelError;
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED:
            return kInternetSecureChannelError;
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return kInternetConnectionAborted;
        case CURLE_RECV_ERROR:
            return kInternetConnectionReset;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_BAD_CONTENT_ENCODING:
            return kHttpInvalidServerResponse;
        case CURLE_OUT_OF_MEMORY:
            return kErrorNotEnoughMemory;
        default:
            return kInternetInternalError;
    }
}

// The path goes back into a URL: bytes that a URL cannot carry as they are
// (and "%" itself, since the path was decoded) are escaped again.
std::string EscapePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '<' || c == '>' || c == '\\' ||
            c == '^' || c == '`' || c == '{' || c == '|' || c == '}' || c == '#') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Wide to multibyte with the C library's conversion: the exact inverse of the
// core's widening, so the bytes that reach the wire are those the core had.
// False for a character the locale cannot write.
bool ToMultibyte(const std::wstring& text, std::string& out) {
    out.clear();
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (wchar_t c : text) {
        const std::size_t length = std::wcrtomb(bytes, c, &state);
        if (length == static_cast<std::size_t>(-1)) return false;
        out.append(bytes, length);
    }
    return true;
}

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Takes one part of a parsed URL; false when it is missing.
bool UrlPart(CURLU* url, CURLUPart part, unsigned flags, std::string& out) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return false;
    out = text;
    curl_free(text);
    return true;
}

using TextList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

void ResetReply(CurlInternet::Object& request) {
    request.sent = true;
    request.status = 0;
    request.body.clear();
    request.overLong = false;
    request.readOffset = 0;
    request.readError = 0;
    request.rejectedCertError = X509_V_OK;
}

// Where the request goes, over what, within which limits, and where the
// reply goes.
void SetTransferOptions(CURL* easy, CurlInternet::Object& request, Watchdog& watchdog,
                        const CurlTimeouts& timeouts, CURLSH* share) {
    const std::string hostPort = UrlHost(request.host) + ":" + std::to_string(request.port);
    const std::string url =
        (request.secure ? "https://" : "http://") + hostPort + EscapePath(request.path);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());  // curl keeps its own copy
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    if (request.direct) curl_easy_setopt(easy, CURLOPT_PROXY, "");
    if (share != nullptr) curl_easy_setopt(easy, CURLOPT_SHARE, share);

    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeouts.requestMs);
    watchdog.limitSeconds = timeouts.noProgressSeconds;
    watchdog.lastProgress = std::chrono::steady_clock::now();
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &watchdog);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, &watchdog);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, CheckProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &watchdog);

    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
}

// The caller's header lines go first, as the platform sends them, then the
// user agent (given as a header, so curl puts none of its own before them).
TextList HeaderList(const std::string& block, const std::string& userAgent) {
    TextList list(nullptr, curl_slist_free_all);
    auto add = [&list](const std::string& line) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown != nullptr) list.release(), list.reset(grown);
    };
    for (std::size_t start = 0; start < block.size();) {
        std::size_t end = block.find("\r\n", start);
        if (end == std::string::npos) end = block.size();
        if (end > start) add(block.substr(start, end - start));
        start = end + 2;
    }
    add("User-Agent: " + userAgent);
    add("Accept:");  // no accept types were given
    add("Expect:");  // the platform sends the body at once
    return list;
}

void SetMethodAndBody(CURL* easy, const std::string& method, const void* optional,
                      unsigned long optionalLength) {
    if (optionalLength > 0 || method == "POST" || method == "PUT") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(optionalLength));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, optionalLength > 0 ? optional : "");
        if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

// The error the send fails with, 0 when it succeeds; for a reply cut short
// after its status, the error its reads end with.
unsigned long FinishTransfer(CURL* easy, CURLcode result, const Watchdog& watchdog,
                             CurlInternet::Object& request) {
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &request.status);
    if (result == CURLE_OK) return 0;
    unsigned long error = WinInetError(result, request);
    if (watchdog.cancelled) {
        error = kInternetOperationCancelled;
    } else if (watchdog.timedOut) {
        error = kInternetTimeout;
    } else if (request.overLong) {
        error = kInternetConnectionAborted;  // ended here, as the platform's reads end
    }
    if (request.status != 0) {
        // The status came, the rest of the reply did not: as with the platform,
        // the send succeeds and the reads end in the failure.
        request.readError = error;
        return 0;
    }
    request.body.clear();
    return error;
}

}  // namespace

CurlInternet::CurlInternet(Timeouts timeouts, std::string connectTo, bool resumeTlsSessions)
    : timeouts_(timeouts), connectTo_(std::move(connectTo)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // TLS sessions are resumed across requests, as the platform's own TLS
    // stack does for the whole process; it only shortens the handshake.
    if (resumeTlsSessions) share_ = curl_share_init();
    if (share_ != nullptr) curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CurlInternet::~CurlInternet() {
    objects_.clear();
    if (share_ != nullptr) curl_share_cleanup(share_);
    if (trustStore_ != nullptr) X509_STORE_free(trustStore_);
    curl_global_cleanup();
}

X509_STORE* CurlInternet::TrustStore() {
    if (trustStore_ == nullptr && trustStoreLoads_ == 0) {
        ++trustStoreLoads_;
        trustStore_ = X509_STORE_new();
        if (trustStore_ != nullptr) {
            // The system's hashed certificate folder (or the one the
            // environment names): an authority is read from it by its name's
            // hash when a chain needs one, so the agent never parses (nor
            // keeps) the whole bundle, not even when the environment names
            // one. Nor the default store URI: through that, every issuer
            // missing from the bundle (that of any self-signed server) costs a
            // listing of the whole folder, per handshake.
            const char* folder = std::getenv(X509_get_default_cert_dir_env());
            X509_STORE_load_path(trustStore_,
                                 folder != nullptr ? folder : X509_get_default_cert_dir());
            ERR_clear_error();  // a missing folder only means fewer authorities
            // A self-signed certificate is let through as one of an unknown
            // authority, but only when its own signature holds.
            X509_STORE_set_flags(trustStore_,
                                 X509_V_FLAG_PARTIAL_CHAIN | X509_V_FLAG_CHECK_SS_SIGNATURE);
        }
    }
    return trustStore_;
}

CurlInternet::Object* CurlInternet::Find(InternetHandle handle, int kind) {
    auto found = objects_.find(handle);
    if (found == objects_.end() || found->second->kind != kind) return nullptr;
    return found->second.get();
}

bool CurlInternet::Fail(unsigned long error) {
    lastError_ = error;
    return false;
}

InternetHandle CurlInternet::InternetOpen(const std::wstring& userAgent, unsigned long accessType,
                                          const wchar_t* /*proxy*/, const wchar_t* /*proxyBypass*/,
                                          unsigned long /*flags*/) {
    auto session = std::make_unique<Object>();
    session->kind = kSession;
    if (!ToMultibyte(userAgent, session->userAgent)) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    session->direct = accessType == INTERNET_OPEN_TYPE_DIRECT;
    InternetHandle handle = session.get();
    objects_[handle] = std::move(session);
    return handle;
}

bool CurlInternet::InternetCrackUrl(const std::wstring& url, unsigned long urlLength,
                                    unsigned long flags, UrlComponents& components) {
    std::string text;
    if (!ToMultibyte(urlLength == 0 ? url : url.substr(0, urlLength), text)) {
        return Fail(kInternetInvalidUrl);
    }
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed) return Fail(kErrorNotEnoughMemory);
    // Any scheme is split; which ones a request may use is decided below, not
    // by the protocols that this libcurl was built with.
    if (curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK) {
        return Fail(kInternetInvalidUrl);
    }
    std::string scheme, host, port, path, query;
    UrlPart(parsed.get(), CURLUPART_SCHEME, 0, scheme);
    if (scheme != "http" && scheme != "https") return Fail(kInternetUnrecognizedScheme);
    const unsigned decode = (flags & ICU_DECODE) != 0 ? CURLU_URLDECODE : 0;
    if (!UrlPart(parsed.get(), CURLUPART_HOST, decode, host) ||
        !UrlPart(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT, port)) {
        return Fail(kInternetInvalidUrl);
    }
    if (host.size() > 1 && host.front() == '[') host = host.substr(1, host.size() - 2);
    UrlPart(parsed.get(), CURLUPART_PATH, decode, path);
    // Without a buffer of its own for the extra information, the query stays on the path.
    if (UrlPart(parsed.get(), CURLUPART_QUERY, decode, query)) path += "?" + query;

    if (components.hostNameCapacity != 0 && host.size() + 1 > components.hostNameCapacity) {
        return Fail(kErrorInsufficientBuffer);
    }
    if (components.urlPathCapacity != 0 && path.size() + 1 > components.urlPathCapacity) {
        return Fail(kErrorInsufficientBuffer);
    }
    if (components.hostNameCapacity != 0) components.hostName = ToWide(host);
    if (components.urlPathCapacity != 0) components.urlPath = ToWide(path);
    components.port = static_cast<unsigned short>(std::stoi(port));
    return true;
}

InternetHandle CurlInternet::InternetConnect(InternetHandle session, const std::wstring& serverName,
                                             unsigned short serverPort, const wchar_t* /*userName*/,
                                             const wchar_t* /*password*/, unsigned long service,
                                             unsigned long /*flags*/, std::uintptr_t /*context*/) {
    Object* parent = Find(session, kSession);
    if (parent == nullptr) {
        Fail(kErrorInvalidHandle);
        return nullptr;
    }
    if (service != INTERNET_SERVICE_HTTP) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    if (serverName.empty()) {
        Fail(kInternetInvalidUrl);
        return nullptr;
    }
    auto connection = std::make_unique<Object>(*parent);
    connection->kind = kConnection;
    if (!ToMultibyte(serverName, connection->host)) {
        Fail(kInternetInvalidUrl);
        return nullptr;
    }
    connection->port = serverPort;
    InternetHandle handle = connection.get();
    objects_[handle] = std::move(connection);
    return handle;
}

InternetHandle CurlInternet::HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                             const std::wstring& objectName,
                                             const wchar_t* /*version*/,
                                             const wchar_t* /*referrer*/,
                                             const wchar_t* const* /*acceptTypes*/,
                                             unsigned long flags, std::uintptr_t /*context*/) {
    Object* parent = Find(connection, kConnection);
    if (parent == nullptr) {
        Fail(kErrorInvalidHandle);
        return nullptr;
    }
    auto request = std::make_unique<Object>(*parent);
    request->kind = kRequest;
    if (!ToMultibyte(verb.empty() ? L"GET" : verb, request->method) ||
        !ToMultibyte(objectName.empty() ? L"/" : objectName, request->path)) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    request->secure = (flags & INTERNET_FLAG_SECURE) != 0;
    // The flags that the request was opened with show up among its security flags.
    request->securityFlags =
        (request->secure ? SECURITY_FLAG_SECURE : 0) |
        (flags & (INTERNET_FLAG_IGNORE_CERT_DATE_INVALID | INTERNET_FLAG_IGNORE_CERT_CN_INVALID));
    InternetHandle handle = request.get();
    objects_[handle] = std::move(request);
    return handle;
}

bool CurlInternet::InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                                       unsigned long& bufferLength) {
    Object* request = Find(handle, kRequest);
    if (request == nullptr) return Fail(kErrorInvalidHandle);
    if (option != INTERNET_OPTION_SECURITY_FLAGS || buffer == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    if (bufferLength < sizeof request->securityFlags) {
        bufferLength = sizeof request->securityFlags;
        return Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, &request->securityFlags, sizeof request->securityFlags);
    bufferLength = sizeof request->securityFlags;
    return true;
}

bool CurlInternet::InternetSetOption(InternetHandle handle, unsigned long option,
                                     const void* buffer, unsigned long bufferLength) {
    Object* request = Find(handle, kRequest);
    if (request == nullptr) return Fail(kErrorInvalidHandle);
    if (option != INTERNET_OPTION_SECURITY_FLAGS || buffer == nullptr ||
        bufferLength != sizeof request->securityFlags) {
        return Fail(kErrorInvalidParameter);
    }
    std::memcpy(&request->securityFlags, buffer, sizeof request->securityFlags);
    return true;
}

bool CurlInternet::HttpSendRequest(InternetHandle handle, const std::wstring& headers,
                                   unsigned long headersLength, const void* optional,
                                   unsigned long optionalLength) {
    Object* request = Find(handle, kRequest);
    if (request == nullptr) return Fail(kErrorInvalidHandle);
    ResetReply(*request);
    std::string block;
    if (!ToMultibyte(headersLength == kTerminatedText || headersLength > headers.size()
                         ? headers
                         : headers.substr(0, headersLength),
                     block)) {
        return Fail(kErrorInvalidParameter);
    }

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return Fail(kErrorNotEnoughMemory);
    CURL* easy = curl.get();
    Watchdog watchdog;
    SetTransferOptions(easy, *request, watchdog, timeouts_, share_);
    const TextList headerList = HeaderList(block, request->userAgent);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    const TextList connectTo(
        connectTo_.empty() ? nullptr : curl_slist_append(nullptr, connectTo_.c_str()),
        curl_slist_free_all);
    if (connectTo) curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo.get());
    SetMethodAndBody(easy, request->method, optional, optionalLength);

    SslSetup ssl{nullptr, request, &verifiedChain_};
    if (request->secure) {
        ssl.store = TrustStore();
        // curl loads no trust store of its own: the shared one is set in SetUpSsl.
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST,
                         (request->securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, SetUpSsl);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &ssl);
    }

    const unsigned long error = FinishTransfer(easy, curl_easy_perform(easy), watchdog, *request);
    return error == 0 ? true : Fail(error);
}

bool CurlInternet::HttpQueryInfo(InternetHandle handle, unsigned long infoLevel, void* buffer,
                                 unsigned long& bufferLength, unsigned long* /*index*/) {
    Object* request = Find(handle, kRequest);
    if (request == nullptr) return Fail(kErrorInvalidHandle);
    if (infoLevel != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) || buffer == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    if (!request->sent || request->status == 0) return Fail(kHttpHeaderNotFound);
    const std::uint32_t status = static_cast<std::uint32_t>(request->status);
    if (bufferLength < sizeof status) {
        bufferLength = sizeof status;
        return Fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, &status, sizeof status);
    bufferLength = sizeof status;
    return true;
}

bool CurlInternet::InternetReadFile(InternetHandle handle, void* buffer,
                                    unsigned long numberOfBytesToRead,
                                    unsigned long& numberOfBytesRead) {
    numberOfBytesRead = 0;
    Object* request = Find(handle, kRequest);
    if (request == nullptr) return Fail(kErrorInvalidHandle);
    if (!request->sent || request->status == 0) return Fail(kInternetIncorrectHandleState);
    std::size_t left = request->body.size() - request->readOffset;
    if (left == 0 && request->readError != 0) return Fail(request->readError);
    std::size_t count = left < numberOfBytesToRead ? left : numberOfBytesToRead;
    if (count > 0) std::memcpy(buffer, request->body.data() + request->readOffset, count);
    request->readOffset += count;
    numberOfBytesRead = static_cast<unsigned long>(count);
    return true;
}

bool CurlInternet::InternetCloseHandle(InternetHandle handle) {
    if (objects_.erase(handle) == 0) return Fail(kErrorInvalidHandle);
    return true;
}

}  // namespace lumivo
