#pragma once
// The platform's Internet client, shaped like the WinINet calls the transport
// makes: a session, a connection and a request handle per call, the request's
// security flags, the send, the numeric status and chunked reads of the reply.

#include <cstddef>
#include <string>

#include "platform/portable.h"

namespace lumivo {

typedef void* InternetHandle;

// WinINet's numbers. Guarded, so that a Win32 adapter that includes the
// platform's headers first keeps the platform's macros (same values).
#ifndef INTERNET_OPEN_TYPE_DIRECT
const unsigned long INTERNET_OPEN_TYPE_DIRECT = 1;
#endif
#ifndef INTERNET_SERVICE_HTTP
const unsigned long INTERNET_SERVICE_HTTP = 3;
#endif
#ifndef ICU_DECODE
const unsigned long ICU_DECODE = 0x10000000;
#endif
#ifndef INTERNET_FLAG_SECURE
const unsigned long INTERNET_FLAG_SECURE = 0x00800000;
#endif
#ifndef INTERNET_FLAG_KEEP_CONNECTION
const unsigned long INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
#endif
#ifndef INTERNET_FLAG_IGNORE_CERT_DATE_INVALID
const unsigned long INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
#endif
#ifndef INTERNET_FLAG_IGNORE_CERT_CN_INVALID
const unsigned long INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
#endif
#ifndef INTERNET_OPTION_SECURITY_FLAGS
const unsigned long INTERNET_OPTION_SECURITY_FLAGS = 31;
#endif
#ifndef SECURITY_FLAG_SECURE
const unsigned long SECURITY_FLAG_SECURE = 0x00000001;
#endif
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
const unsigned long SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
#endif
#ifndef SECURITY_FLAG_IGNORE_CERT_CN_INVALID
const unsigned long SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
#endif
#ifndef SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
const unsigned long SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
#endif
#ifndef HTTP_QUERY_STATUS_CODE
const unsigned long HTTP_QUERY_STATUS_CODE = 19;
#endif
#ifndef HTTP_QUERY_FLAG_NUMBER
const unsigned long HTTP_QUERY_FLAG_NUMBER = 0x20000000;
#endif
#ifndef INTERNET_DEFAULT_HTTPS_PORT
const unsigned short INTERNET_DEFAULT_HTTPS_PORT = 443;
#endif
#ifndef INTERNET_DEFAULT_HTTP_PORT
const unsigned short INTERNET_DEFAULT_HTTP_PORT = 80;
#endif

// A text length of "-1": the text is terminated.
const unsigned long kTerminatedText = static_cast<unsigned long>(-1);

// The most reply body bytes any request takes, 1 MiB. The largest reply a call
// needs (a poll's list of requests) is a few kilobytes; a longer one is no
// answer, like a reply cut short, so whoever answers cannot make the agent
// hold more. The transport stops reading past it, and an adapter that buffers
// the body itself keeps no more than this.
const std::size_t kMaxReplyBytes = 1024 * 1024;

// Last-error numbers of failed calls, from WinINet's own numbering, so that a
// logged number means the same on every platform.
const unsigned long kErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
const unsigned long kErrorNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
const unsigned long kErrorInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
const unsigned long kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
const unsigned long kInternetTimeout = 12002;        // ERROR_INTERNET_TIMEOUT
const unsigned long kInternetInternalError = 12004;  // ERROR_INTERNET_INTERNAL_ERROR
const unsigned long kInternetInvalidUrl = 12005;     // ERROR_INTERNET_INVALID_URL
const unsigned long kInternetUnrecognizedScheme = 12006;
const unsigned long kInternetNameNotResolved = 12007;
const unsigned long kInternetOperationCancelled = 12017;
const unsigned long kInternetIncorrectHandleState = 12019;
const unsigned long kInternetCannotConnect = 12029;
const unsigned long kInternetConnectionAborted = 12030;
const unsigned long kInternetConnectionReset = 12031;
const unsigned long kInternetCertDateInvalid = 12037;
const unsigned long kInternetCertCnInvalid = 12038;
const unsigned long kInternetInvalidCa = 12045;
const unsigned long kInternetCertErrors = 12055;  // ERROR_INTERNET_SEC_CERT_ERRORS
const unsigned long kHttpHeaderNotFound = 12150;
const unsigned long kHttpInvalidServerResponse = 12152;
const unsigned long kInternetSecureChannelError = 12157;
const unsigned long kInternetCertRevoked = 12170;

// The parts of a URL that InternetCrackUrlW is asked for. A capacity of 0
// means the part is not asked for; otherwise the part, its terminator
// included, must fit in that many wide characters.
struct UrlComponents {
    UrlComponents() : hostNameCapacity(0), port(0), urlPathCapacity(0) {}
    std::wstring hostName;
    unsigned long hostNameCapacity;
    unsigned short port;
    std::wstring urlPath;
    unsigned long urlPathCapacity;
};

class InternetPort {
  public:
    virtual ~InternetPort() {}

    // InternetOpenW; null on failure. Null texts stand for the calls' null pointers.
    virtual InternetHandle InternetOpen(const std::wstring& userAgent, unsigned long accessType,
                                        const wchar_t* proxy, const wchar_t* proxyBypass,
                                        unsigned long flags) = 0;
    // InternetCrackUrlW; urlLength 0 means terminated text.
    virtual bool InternetCrackUrl(const std::wstring& url, unsigned long urlLength,
                                  unsigned long flags, UrlComponents& components) = 0;
    // InternetConnectW; null on failure.
    virtual InternetHandle InternetConnect(InternetHandle session, const std::wstring& serverName,
                                           unsigned short serverPort, const wchar_t* userName,
                                           const wchar_t* password, unsigned long service,
                                           unsigned long flags, uintptr context) = 0;
    // HttpOpenRequestW; null on failure.
    virtual InternetHandle HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                           const std::wstring& objectName, const wchar_t* version,
                                           const wchar_t* referrer,
                                           const wchar_t* const* acceptTypes, unsigned long flags,
                                           uintptr context) = 0;
    // InternetQueryOptionW / InternetSetOptionW: bufferLength in bytes.
    virtual bool InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                                     unsigned long& bufferLength) = 0;
    virtual bool InternetSetOption(InternetHandle handle, unsigned long option, const void* buffer,
                                   unsigned long bufferLength) = 0;
    // HttpSendRequestW: headersLength kTerminatedText means terminated text.
    virtual bool HttpSendRequest(InternetHandle request, const std::wstring& headers,
                                 unsigned long headersLength, const void* optional,
                                 unsigned long optionalLength) = 0;
    // HttpQueryInfoW; index may be null.
    virtual bool HttpQueryInfo(InternetHandle request, unsigned long infoLevel, void* buffer,
                               unsigned long& bufferLength, unsigned long* index) = 0;
    // InternetReadFile: bytesRead 0 at the end of the reply.
    virtual bool InternetReadFile(InternetHandle request, void* buffer,
                                  unsigned long numberOfBytesToRead,
                                  unsigned long& numberOfBytesRead) = 0;
    virtual bool InternetCloseHandle(InternetHandle handle) = 0;
    // The thread's last-error number after a failed call of this port.
    virtual unsigned long GetLastError() = 0;
};

}  // namespace lumivo
