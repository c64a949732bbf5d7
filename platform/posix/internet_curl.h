#pragma once
// The Internet port over libcurl with OpenSSL. Each HttpSendRequest runs one
// whole transfer on its own easy handle; the reply body (at most
// kMaxReplyBytes: a longer reply ends the transfer and its reads fail) is kept
// and served to InternetReadFile in the sizes asked for. A termination signal
// ends a transfer in flight within a second. What does not depend on a request
// lives as long as the adapter: the trust store (authorities read from the
// system's certificate folder as chains need them), a TLS session cache and
// the chain last verified.

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include <curl/curl.h>
#include <openssl/x509.h>

#include "platform/internet_port.h"

namespace lumivo {

// The Windows Internet stack's default time-outs: connect 60 s; send and
// receive 30 s without progress. Beside them, a whole request (connect,
// handshake, send and every byte of the reply) ends after 120 s: a service
// that trickles a byte now and then never trips the no-progress limit.
struct CurlTimeouts {
    long connectMs = 60000;
    long noProgressSeconds = 30;
    long requestMs = 120000;
};

class CurlInternet : public InternetPort {
  public:
    using Timeouts = CurlTimeouts;

    // connectTo, in curl's CONNECT_TO form "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT"
    // (empty parts match any), sends requests for one host and port to another
    // address without changing the URL, the Host header or the name the
    // certificate is checked for: a development service on a free port.
    // resumeTlsSessions false leaves the session cache out: every handshake is a
    // full one (only for measuring what resumption saves; the agent keeps it on).
    explicit CurlInternet(Timeouts timeouts = Timeouts{}, std::string connectTo = std::string(),
                          bool resumeTlsSessions = true);
    ~CurlInternet() override;
    CurlInternet(const CurlInternet&) = delete;
    CurlInternet& operator=(const CurlInternet&) = delete;

    const Timeouts& GetTimeouts() const { return timeouts_; }
    // How often the trust store has been parsed (once per adapter at most).
    int TrustStoreLoads() const { return trustStoreLoads_; }
    // How often a server's certificate chain has been verified in full.
    int ChainVerifications() const { return verifiedChain_.verifications; }

    InternetHandle InternetOpen(const std::wstring& userAgent, unsigned long accessType,
                                const wchar_t* proxy, const wchar_t* proxyBypass,
                                unsigned long flags) override;
    bool InternetCrackUrl(const std::wstring& url, unsigned long urlLength, unsigned long flags,
                          UrlComponents& components) override;
    InternetHandle InternetConnect(InternetHandle session, const std::wstring& serverName,
                                   unsigned short serverPort, const wchar_t* userName,
                                   const wchar_t* password, unsigned long service,
                                   unsigned long flags, std::uintptr_t context) override;
    InternetHandle HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                   const std::wstring& objectName, const wchar_t* version,
                                   const wchar_t* referrer, const wchar_t* const* acceptTypes,
                                   unsigned long flags, std::uintptr_t context) override;
    bool InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                             unsigned long& bufferLength) override;
    bool InternetSetOption(InternetHandle handle, unsigned long option, const void* buffer,
                           unsigned long bufferLength) override;
    bool HttpSendRequest(InternetHandle request, const std::wstring& headers,
                         unsigned long headersLength, const void* optional,
                         unsigned long optionalLength) override;
    bool HttpQueryInfo(InternetHandle request, unsigned long infoLevel, void* buffer,
                       unsigned long& bufferLength, unsigned long* index) override;
    bool InternetReadFile(InternetHandle request, void* buffer, unsigned long numberOfBytesToRead,
                          unsigned long& numberOfBytesRead) override;
    bool InternetCloseHandle(InternetHandle handle) override;
    unsigned long GetLastError() override { return lastError_; }

    struct Object;  // a session, connection or request
    // The certificate chain last let through, with what its verification
    // depended on: a full handshake that presents the same chain under the
    // same flags takes that result again, as a resumed session does.
    struct VerifiedChain {
        std::string key;  // empty: none
        std::chrono::steady_clock::time_point at;
        int verifications = 0;
    };

  private:
    Object* Find(InternetHandle handle, int kind);
    bool Fail(unsigned long error);
    X509_STORE* TrustStore();

    Timeouts timeouts_;
    std::string connectTo_;
    std::map<InternetHandle, std::unique_ptr<Object>> objects_;
    unsigned long lastError_ = 0;
    CURLSH* share_ = nullptr;
    X509_STORE* trustStore_ = nullptr;
    int trustStoreLoads_ = 0;
    VerifiedChain verifiedChain_;
};

}  // namespace lumivo
