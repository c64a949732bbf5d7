#include "cloud/transport.h"

#include <cstdint>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "platform/internet_port.h"

namespace lumivo {

namespace {

constexpr const wchar_t* kUserAgent = L"Lumivo Device";
constexpr unsigned long kUrlPartCapacity = 1024;
constexpr unsigned long kRequestFlags = INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION |
                                        INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                        INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
constexpr std::size_t kReplyChunk = 50;

int QueryStatusCode(InternetPort& internet, InternetHandle request) {
    std::uint32_t code = 0;
    unsigned long size = sizeof code;
    if (!internet.HttpQueryInfo(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                                size, nullptr)) {
        return 0;
    }
    return static_cast<int>(code);
}

// `complete` becomes false when a read failed: the reply is then empty.
std::string ReadReply(InternetPort& internet, InternetHandle request, bool& complete) {
    std::string reply;
    complete = true;
    for (;;) {
        char chunk[kReplyChunk];
        unsigned long read = 0;
        if (!internet.InternetReadFile(request, chunk, sizeof chunk, read)) {
            Log("Could not read data");
            complete = false;
            return std::string();
        }
        // Only the bytes actually read, and of those the ones before a NUL.
        std::size_t length = read < sizeof chunk ? read : sizeof chunk;
        for (std::size_t i = 0; i < length && chunk[i] != '\0'; ++i) reply.push_back(chunk[i]);
        if (read == 0) {
            Log(reply);
            return reply;
        }
    }
}

}  // namespace

void SendRequest(Agent& agent, std::string method, std::string path, std::string body, int& status,
                 std::string& reply) {
    InternetPort& internet = *agent.ports.internet;

    std::string headers;
    if (!agent.accessToken.empty()) headers += "x-access-token: " + agent.accessToken + "\r\n";
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";

    InternetHandle session =
        internet.InternetOpen(kUserAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);

    UrlComponents url;
    url.hostNameCapacity = kUrlPartCapacity;
    url.urlPathCapacity = kUrlPartCapacity;
    internet.InternetCrackUrl(ToWide(std::string(serviceBaseUrl) + path), 0, ICU_DECODE, url);

    InternetHandle connection = internet.InternetConnect(session, url.hostName, url.port, nullptr,
                                                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    InternetHandle request = internet.HttpOpenRequest(connection, ToWide(method), url.urlPath,
                                                      nullptr, nullptr, nullptr, kRequestFlags, 0);

    std::uint32_t securityFlags = 0;
    unsigned long size = sizeof securityFlags;
    internet.InternetQueryOption(request, INTERNET_OPTION_SECURITY_FLAGS, &securityFlags, size);
    securityFlags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    internet.InternetSetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                               sizeof securityFlags);

    // The body goes out up to its first NUL byte, unconverted.
    std::size_t bodyLength = body.find('\0');
    if (bodyLength == std::string::npos) bodyLength = body.size();
    if (!internet.HttpSendRequest(request, ToWide(headers), kTerminatedText, body.data(),
                                  static_cast<unsigned long>(bodyLength))) {
        Log(std::to_string(internet.GetLastError()));
    }

    status = QueryStatusCode(internet, request);
    bool complete = false;
    reply = ReadReply(internet, request, complete);
    // A reply cut short (connection dropped or stalled inside the body) is no
    // answer: with its status kept, a poll would read the empty text as "no
    // requests" and a login would take an empty token.
    if (!complete) status = 0;

    if (request != nullptr) internet.InternetCloseHandle(request);
    if (connection != nullptr) internet.InternetCloseHandle(connection);
    if (session != nullptr) internet.InternetCloseHandle(session);
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
