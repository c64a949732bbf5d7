#include "cloud/transport.h"

#include <cstddef>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "platform/internet_port.h"

namespace lumivo {

namespace {

const wchar_t* const kUserAgent = L"Lumivo Device";
const unsigned long kUrlPartCapacity = 1024;
const unsigned long kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION |
                                        INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                        INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
const std::size_t kReplyChunk = 50;

int QueryStatusCode(InternetPort& internet, InternetHandle request) {
    uint32 code = 0;
    unsigned long size = sizeof code;
    if (!internet.HttpQueryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                                size, NULL)) {
        return 0;
    }
    return static_cast<int>(code);
}

// `complete` becomes false when a read failed or the reply grew past
// kMaxReplyBytes: the reply is then empty, and reading stops there.
std::string ReadReply(InternetPort& internet, InternetHandle request, bool& complete) {
    std::string reply;
    std::size_t total = 0;
    complete = true;
    for (;;) {
        char chunk[kReplyChunk];
        unsigned long read = 0;
        bool ok = internet.InternetReadFile(request, chunk, sizeof chunk, read);
        // Only the bytes actually read, and of those the ones before a NUL.
        std::size_t length = read < sizeof chunk ? read : sizeof chunk;
        total += length;
        if (!ok || total > kMaxReplyBytes) {
            Log("Could not read data");
            complete = false;
            return std::string();
        }
        for (std::size_t i = 0; i < length && chunk[i] != '\0'; ++i) reply.push_back(chunk[i]);
        if (read == 0) {
            Log(reply);
            return reply;
        }
    }
}

// One Internet handle of a call, closed on the port when its owner goes out
// of scope (only when it was opened). SendRequest declares the session, the
// connection and the request in that order, so they close in the reverse one:
// the request first, the session last.
class OwnedHandle : private NonCopyable {
  public:
    OwnedHandle(InternetPort& internet, InternetHandle handle)
        : internet_(internet), handle_(handle) {}
    ~OwnedHandle() {
        if (handle_ != NULL) internet_.InternetCloseHandle(handle_);
    }
    InternetHandle get() const { return handle_; }

  private:
    InternetPort& internet_;
    InternetHandle handle_;
};

}  // namespace

void SendRequest(Agent& agent, std::string method, std::string path, std::string body, int& status,
                 std::string& reply) {
    InternetPort& internet = *agent.ports.internet;

    std::string headers;
    if (!agent.accessToken.empty()) headers += "x-access-token: " + agent.accessToken + "\r\n";
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";

    const OwnedHandle session(
        internet, internet.InternetOpen(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0));

    UrlComponents url;
    url.hostNameCapacity = kUrlPartCapacity;
    url.urlPathCapacity = kUrlPartCapacity;
    internet.InternetCrackUrl(ToWide(std::string(serviceBaseUrl) + path), 0, ICU_DECODE, url);

    const OwnedHandle connection(
        internet, internet.InternetConnect(session.get(), url.hostName, url.port, NULL, NULL,
                                           INTERNET_SERVICE_HTTP, 0, 0));
    const OwnedHandle request(
        internet, internet.HttpOpenRequest(connection.get(), ToWide(method), url.urlPath, NULL,
                                           NULL, NULL, kRequestFlags, 0));

    uint32 securityFlags = 0;
    unsigned long size = sizeof securityFlags;
    internet.InternetQueryOption(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                                 size);
    securityFlags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    internet.InternetSetOption(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                               sizeof securityFlags);

    // The body goes out up to its first NUL byte, unconverted.
    std::size_t bodyLength = body.find('\0');
    if (bodyLength == std::string::npos) bodyLength = body.size();
    if (!internet.HttpSendRequest(request.get(), ToWide(headers), kTerminatedText, body.data(),
                                  static_cast<unsigned long>(bodyLength))) {
        Log(UnsignedToText(internet.GetLastError()));
    }

    status = QueryStatusCode(internet, request.get());
    bool complete = false;
    reply = ReadReply(internet, request.get(), complete);
    // A reply cut short (connection dropped or stalled inside the body) or
    // longer than any call takes is no answer: with its status kept, a poll
    // would read the empty text as "no requests" and a login would take an
    // empty token.
    if (!complete) status = 0;
}

void ReportRequestError(Agent& /*agent*/, int status, std::string reply) {
    if (status == 0) {
        Log("Network error");
        return;
    }
    if (status != 404 && status != 500) return;
    Log("Error " + IntToText(status));
    JsonTree tree(ParseJson(reply));
    std::string text;
    if (GetJsonString(tree.get(), "message", text) || GetJsonString(tree.get(), "code", text)) {
        Log(text);
    } else {
        Log("Unexpected error");
    }
}

}  // namespace lumivo
