#pragma once
// An in-memory Internet port. It records every call with its arguments and
// answers each sent request from a script: status, reply (whole or in given
// chunks), failures with their last-error numbers.

#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/constants.h"
#include "base/text.h"
#include "platform/internet_port.h"

namespace lumivo {

class FakeInternet : public InternetPort {
  public:
    // The answer to one sent request.
    struct Reply {
        int status = 200;
        // Served in reads of the size asked for, unless chunks are given:
        // then each read gives the next chunk as it is (at most the size asked for).
        std::string body;
        std::vector<std::string> chunks;
        bool sendFails = false;  // HttpSendRequest fails; status and reads fail too
        unsigned long sendError = kInternetCannotConnect;
        int failReadAfter = -1;  // this many reads succeed, then one fails; -1: never
        unsigned long readError = kInternetConnectionReset;
    };

    // What went over the wire for one HttpSendRequest.
    struct SentRequest {
        std::string url;           // the text given to InternetCrackUrl
        std::string relativePath;  // url without serviceBaseUrl (the caller's path)
        std::string host;
        unsigned short port = 0;
        unsigned long service = 0;
        std::string method;
        std::string urlPath;  // as given to HttpOpenRequest
        unsigned long openFlags = 0;
        bool nullVersionReferrerAccept = false;
        std::uint32_t securityFlags = 0;  // as set when the request was sent
        std::string headers;
        unsigned long headersLength = 0;
        std::string body;  // the optionalLength bytes sent
    };

    struct SessionCall {
        std::wstring userAgent;
        unsigned long accessType = 0;
        bool nullProxy = false;
        bool nullBypass = false;
        unsigned long flags = 0;
    };
    struct CrackCall {
        std::wstring url;
        unsigned long urlLength = 0;
        unsigned long flags = 0;
        unsigned long hostNameCapacity = 0;
        unsigned long urlPathCapacity = 0;
    };
    struct ConnectCall {
        InternetHandle session = nullptr;
        std::wstring serverName;
        unsigned short port = 0;
        bool nullUser = false;
        bool nullPassword = false;
        unsigned long service = 0;
        unsigned long flags = 0;
        std::uintptr_t context = 0;
    };
    struct OptionCall {
        InternetHandle handle = nullptr;
        unsigned long option = 0;
        std::uint32_t value = 0;
        unsigned long length = 0;
    };
    struct QueryInfoCall {
        InternetHandle request = nullptr;
        unsigned long infoLevel = 0;
        unsigned long bufferLength = 0;
        bool nullIndex = false;
    };

    // Scripting.
    std::deque<Reply> replies;                           // consumed one per send
    std::function<Reply(const SentRequest&)> responder;  // used when replies is empty
    Reply defaultReply;                                  // used when neither gives one
    bool failOpen = false, failCrack = false, failConnect = false, failOpenRequest = false;
    bool failQueryOption = false;
    std::uint32_t initialSecurityFlags = SECURITY_FLAG_SECURE;

    // Records.
    std::vector<std::string> calls;  // call names in order
    std::vector<SessionCall> sessions;
    std::vector<CrackCall> cracks;
    std::vector<ConnectCall> connects;
    std::vector<OptionCall> queriedOptions, setOptions;
    std::vector<QueryInfoCall> queryInfos;
    std::vector<unsigned long> readSizes;
    std::vector<InternetHandle> closed;
    std::vector<SentRequest> sent;

    void Script(int status, std::string body) {
        Reply reply;
        reply.status = status;
        reply.body = std::move(body);
        replies.push_back(reply);
    }
    void ScriptFailure(unsigned long error) {
        Reply reply;
        reply.sendFails = true;
        reply.sendError = error;
        replies.push_back(reply);
    }
    std::size_t OpenHandles() const { return handles_.size(); }
    // "METHOD path" of every request sent, in order.
    std::vector<std::string> Requests() const {
        std::vector<std::string> requests;
        for (const SentRequest& request : sent)
            requests.push_back(request.method + " " + request.relativePath);
        return requests;
    }

    InternetHandle InternetOpen(const std::wstring& userAgent, unsigned long accessType,
                                const wchar_t* proxy, const wchar_t* proxyBypass,
                                unsigned long flags) override {
        calls.push_back("InternetOpen");
        sessions.push_back(
            {userAgent, accessType, proxy == nullptr, proxyBypass == nullptr, flags});
        if (failOpen) return Fail(kInternetInternalError);
        return NewHandle(Kind::Session);
    }

    bool InternetCrackUrl(const std::wstring& url, unsigned long urlLength, unsigned long flags,
                          UrlComponents& components) override {
        calls.push_back("InternetCrackUrl");
        cracks.push_back(
            {url, urlLength, flags, components.hostNameCapacity, components.urlPathCapacity});
        lastUrl_ = ToNarrow(url);
        std::string text = lastUrl_;
        std::size_t scheme = text.find("://");
        if (failCrack || scheme == std::string::npos) {
            lastError_ = kInternetInvalidUrl;
            return false;
        }
        std::string rest = text.substr(scheme + 3);
        std::size_t slash = rest.find('/');
        std::string authority = rest.substr(0, slash);
        std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
        std::size_t colon = authority.rfind(':');
        components.port = text.compare(0, scheme, "https") == 0 ? INTERNET_DEFAULT_HTTPS_PORT
                                                                : INTERNET_DEFAULT_HTTP_PORT;
        if (colon != std::string::npos) {
            components.port = static_cast<unsigned short>(std::stoi(authority.substr(colon + 1)));
            authority.resize(colon);
        }
        if (components.hostNameCapacity != 0) components.hostName = ToWide(authority);
        if (components.urlPathCapacity != 0) {
            components.urlPath = ToWide((flags & ICU_DECODE) != 0 ? Decode(path) : path);
        }
        return true;
    }

    InternetHandle InternetConnect(InternetHandle session, const std::wstring& serverName,
                                   unsigned short serverPort, const wchar_t* userName,
                                   const wchar_t* password, unsigned long service,
                                   unsigned long flags, std::uintptr_t context) override {
        calls.push_back("InternetConnect");
        connects.push_back({session, serverName, serverPort, userName == nullptr,
                            password == nullptr, service, flags, context});
        if (failConnect) return Fail(kInternetCannotConnect);
        if (!Is(session, Kind::Session)) return Fail(kErrorInvalidHandle);
        InternetHandle handle = NewHandle(Kind::Connection);
        State& state = handles_[handle];
        state.request.url = lastUrl_;
        state.request.host = ToNarrow(serverName);
        state.request.port = serverPort;
        state.request.service = service;
        return handle;
    }

    InternetHandle HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                   const std::wstring& objectName, const wchar_t* version,
                                   const wchar_t* referrer, const wchar_t* const* acceptTypes,
                                   unsigned long flags, std::uintptr_t /*context*/) override {
        calls.push_back("HttpOpenRequest");
        if (failOpenRequest) return Fail(kInternetInternalError);
        if (!Is(connection, Kind::Connection)) return Fail(kErrorInvalidHandle);
        SentRequest request = handles_[connection].request;
        request.method = ToNarrow(verb);
        request.urlPath = ToNarrow(objectName);
        request.openFlags = flags;
        request.nullVersionReferrerAccept =
            version == nullptr && referrer == nullptr && acceptTypes == nullptr;
        const std::string base = serviceBaseUrl;
        request.relativePath = request.url.compare(0, base.size(), base) == 0
                                   ? request.url.substr(base.size())
                                   : request.url;
        InternetHandle handle = NewHandle(Kind::Request);
        handles_[handle].request = request;
        handles_[handle].securityFlags = initialSecurityFlags;
        return handle;
    }

    bool InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                             unsigned long& bufferLength) override {
        calls.push_back("InternetQueryOption");
        std::uint32_t value = 0;
        if (bufferLength >= sizeof value) std::memcpy(&value, buffer, sizeof value);
        queriedOptions.push_back({handle, option, value, bufferLength});
        if (failQueryOption || !Is(handle, Kind::Request)) return FailBool(kErrorInvalidHandle);
        if (option != INTERNET_OPTION_SECURITY_FLAGS || bufferLength < sizeof value) {
            return FailBool(kErrorInvalidParameter);
        }
        std::memcpy(buffer, &handles_[handle].securityFlags, sizeof value);
        bufferLength = sizeof value;
        return true;
    }

    bool InternetSetOption(InternetHandle handle, unsigned long option, const void* buffer,
                           unsigned long bufferLength) override {
        calls.push_back("InternetSetOption");
        std::uint32_t value = 0;
        if (bufferLength >= sizeof value) std::memcpy(&value, buffer, sizeof value);
        setOptions.push_back({handle, option, value, bufferLength});
        if (!Is(handle, Kind::Request)) return FailBool(kErrorInvalidHandle);
        if (option != INTERNET_OPTION_SECURITY_FLAGS || bufferLength != sizeof value) {
            return FailBool(kErrorInvalidParameter);
        }
        handles_[handle].securityFlags = value;
        return true;
    }

    bool HttpSendRequest(InternetHandle request, const std::wstring& headers,
                         unsigned long headersLength, const void* optional,
                         unsigned long optionalLength) override {
        calls.push_back("HttpSendRequest");
        if (!Is(request, Kind::Request)) return FailBool(kErrorInvalidHandle);
        State& state = handles_[request];
        if (state.request.host.empty()) return FailBool(kInternetNameNotResolved);
        state.request.headers = ToNarrow(headers);
        state.request.headersLength = headersLength;
        state.request.body.assign(static_cast<const char*>(optional), optionalLength);
        state.request.securityFlags = state.securityFlags;
        sent.push_back(state.request);
        state.reply = NextReply(state.request);
        state.sent = true;
        if (state.reply.sendFails) return FailBool(state.reply.sendError);
        state.unread = state.reply.chunks;
        if (state.unread.empty() && !state.reply.body.empty()) state.unread = {state.reply.body};
        return true;
    }

    bool HttpQueryInfo(InternetHandle request, unsigned long infoLevel, void* buffer,
                       unsigned long& bufferLength, unsigned long* index) override {
        calls.push_back("HttpQueryInfo");
        queryInfos.push_back({request, infoLevel, bufferLength, index == nullptr});
        if (!Is(request, Kind::Request)) return FailBool(kErrorInvalidHandle);
        const State& state = handles_[request];
        if (!state.sent || state.reply.sendFails) return FailBool(kHttpHeaderNotFound);
        std::uint32_t status = static_cast<std::uint32_t>(state.reply.status);
        if (bufferLength < sizeof status) return FailBool(kErrorInsufficientBuffer);
        std::memcpy(buffer, &status, sizeof status);
        bufferLength = sizeof status;
        return true;
    }

    bool InternetReadFile(InternetHandle request, void* buffer, unsigned long numberOfBytesToRead,
                          unsigned long& numberOfBytesRead) override {
        calls.push_back("InternetReadFile");
        readSizes.push_back(numberOfBytesToRead);
        numberOfBytesRead = 0;
        if (!Is(request, Kind::Request)) return FailBool(kErrorInvalidHandle);
        State& state = handles_[request];
        if (!state.sent || state.reply.sendFails) return FailBool(kInternetIncorrectHandleState);
        if (state.reply.failReadAfter >= 0 && state.reads++ >= state.reply.failReadAfter) {
            return FailBool(state.reply.readError);
        }
        if (state.unread.empty()) return true;
        std::string& piece = state.unread.front();
        std::size_t count = piece.size() < numberOfBytesToRead ? piece.size() : numberOfBytesToRead;
        std::memcpy(buffer, piece.data(), count);
        numberOfBytesRead = static_cast<unsigned long>(count);
        // A scripted chunk is served once, whole or cut to the size asked for.
        if (!state.reply.chunks.empty() || count == piece.size()) {
            state.unread.erase(state.unread.begin());
        } else {
            piece.erase(0, count);
        }
        return true;
    }

    bool InternetCloseHandle(InternetHandle handle) override {
        calls.push_back("InternetCloseHandle");
        closed.push_back(handle);
        if (handles_.erase(handle) == 0) return FailBool(kErrorInvalidHandle);
        return true;
    }

    unsigned long GetLastError() override {
        calls.push_back("GetLastError");
        return lastError_;
    }

  private:
    enum class Kind { Session, Connection, Request };
    struct State {
        Kind kind = Kind::Session;
        SentRequest request;
        std::uint32_t securityFlags = 0;
        bool sent = false;
        Reply reply;
        std::vector<std::string> unread;
        int reads = 0;
    };

    static int Byte(char c) { return static_cast<unsigned char>(c); }
    static std::string Decode(const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(Byte(text[i + 1])) &&
                std::isxdigit(Byte(text[i + 2]))) {
                out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(text[i]);
            }
        }
        return out;
    }

    Reply NextReply(const SentRequest& request) {
        if (!replies.empty()) {
            Reply reply = replies.front();
            replies.pop_front();
            return reply;
        }
        if (responder) return responder(request);
        return defaultReply;
    }
    InternetHandle NewHandle(Kind kind) {
        InternetHandle handle = reinterpret_cast<InternetHandle>(++nextHandle_ * 16);
        handles_[handle].kind = kind;
        return handle;
    }
    bool Is(InternetHandle handle, Kind kind) const {
        auto found = handles_.find(handle);
        return found != handles_.end() && found->second.kind == kind;
    }
    InternetHandle Fail(unsigned long error) {
        lastError_ = error;
        return nullptr;
    }
    bool FailBool(unsigned long error) {
        lastError_ = error;
        return false;
    }

    std::map<InternetHandle, State> handles_;
    std::uintptr_t nextHandle_ = 0;
    unsigned long lastError_ = 0;
    std::string lastUrl_;
};

}  // namespace lumivo
