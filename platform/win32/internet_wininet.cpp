#include "platform/win32/internet_wininet.h"

#include <cstdlib>
#include <vector>

#include "base/text.h"
#include "platform/win32/windows_api.h"

namespace lumivo {

namespace {

unsigned short ParsePort(const std::string& text) {
    char* end = NULL;
    unsigned long port = std::strtoul(text.c_str(), &end, 10);
    return (end != text.c_str() && *end == '\0' && port <= 65535)
               ? static_cast<unsigned short>(port)
               : 0;
}

}  // namespace

WinInetInternet::WinInetInternet(const std::string& connectTo) : fromPort_(0), toPort_(0) {
    // HOST:PORT:TO-HOST:TO-PORT, host names without colons.
    std::vector<std::string> parts;
    std::size_t start = 0;
    std::size_t colon;
    for (; (colon = connectTo.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(connectTo.substr(start, colon - start));
    }
    parts.push_back(connectTo.substr(start));
    if (parts.size() != 4) return;
    fromHost_ = ToWide(parts[0]);
    fromPort_ = ParsePort(parts[1]);
    toHost_ = ToWide(parts[2]);
    toPort_ = ParsePort(parts[3]);
}

InternetHandle WinInetInternet::InternetOpen(const std::wstring& userAgent,
                                             unsigned long accessType, const wchar_t* proxy,
                                             const wchar_t* proxyBypass, unsigned long flags) {
    return ::InternetOpenW(userAgent.c_str(), accessType, proxy, proxyBypass, flags);
}

bool WinInetInternet::InternetCrackUrl(const std::wstring& url, unsigned long urlLength,
                                       unsigned long flags, UrlComponents& components) {
    std::vector<wchar_t> host(components.hostNameCapacity + 1);
    std::vector<wchar_t> path(components.urlPathCapacity + 1);
    URL_COMPONENTSW parts = URL_COMPONENTSW();
    parts.dwStructSize = sizeof parts;
    if (components.hostNameCapacity > 0) {
        parts.lpszHostName = &host[0];
        parts.dwHostNameLength = components.hostNameCapacity;
    }
    if (components.urlPathCapacity > 0) {
        parts.lpszUrlPath = &path[0];
        parts.dwUrlPathLength = components.urlPathCapacity;
    }
    if (!::InternetCrackUrlW(url.c_str(), urlLength, flags, &parts)) return false;
    if (parts.lpszHostName) components.hostName.assign(&host[0], parts.dwHostNameLength);
    if (parts.lpszUrlPath) components.urlPath.assign(&path[0], parts.dwUrlPathLength);
    components.port = parts.nPort;
    return true;
}

InternetHandle WinInetInternet::InternetConnect(InternetHandle session,
                                                const std::wstring& serverName,
                                                unsigned short serverPort, const wchar_t* userName,
                                                const wchar_t* password, unsigned long service,
                                                unsigned long flags, uintptr context) {
    std::wstring host = serverName;
    if (fromPort_ != 0 && host == fromHost_ && serverPort == fromPort_) {
        host = toHost_;
        serverPort = toPort_;
    }
    return ::InternetConnectW(static_cast<HINTERNET>(session), host.c_str(), serverPort, userName,
                              password, service, flags, context);
}

InternetHandle WinInetInternet::HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                                const std::wstring& objectName,
                                                const wchar_t* version, const wchar_t* referrer,
                                                const wchar_t* const* acceptTypes,
                                                unsigned long flags, uintptr context) {
    return ::HttpOpenRequestW(static_cast<HINTERNET>(connection), verb.c_str(), objectName.c_str(),
                              version, referrer, const_cast<const wchar_t**>(acceptTypes), flags,
                              context);
}

bool WinInetInternet::InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                                          unsigned long& bufferLength) {
    DWORD length = bufferLength;
    BOOL ok = ::InternetQueryOptionW(static_cast<HINTERNET>(handle), option, buffer, &length);
    bufferLength = length;
    return ok != FALSE;
}

bool WinInetInternet::InternetSetOption(InternetHandle handle, unsigned long option,
                                        const void* buffer, unsigned long bufferLength) {
    return ::InternetSetOptionW(static_cast<HINTERNET>(handle), option, const_cast<void*>(buffer),
                                bufferLength) != FALSE;
}

bool WinInetInternet::HttpSendRequest(InternetHandle request, const std::wstring& headers,
                                      unsigned long headersLength, const void* optional,
                                      unsigned long optionalLength) {
    if (::HttpSendRequestW(static_cast<HINTERNET>(request), headers.c_str(), headersLength,
                           const_cast<void*>(optional), optionalLength)) {
        unsent_.erase(request);
        return true;
    }
    DWORD error = ::GetLastError();
    if (request != NULL) unsent_.insert(request);
    ::SetLastError(error);
    return false;
}

bool WinInetInternet::HttpQueryInfo(InternetHandle request, unsigned long infoLevel, void* buffer,
                                    unsigned long& bufferLength, unsigned long* index) {
    DWORD length = bufferLength;
    DWORD indexValue = index ? *index : 0;
    BOOL ok = ::HttpQueryInfoW(static_cast<HINTERNET>(request), infoLevel, buffer, &length,
                               index ? &indexValue : NULL);
    bufferLength = length;
    if (index) *index = indexValue;
    return ok != FALSE;
}

bool WinInetInternet::InternetReadFile(InternetHandle request, void* buffer,
                                       unsigned long numberOfBytesToRead,
                                       unsigned long& numberOfBytesRead) {
    if (unsent_.count(request) != 0) {
        numberOfBytesRead = 0;
        ::SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    DWORD read = 0;
    BOOL ok =
        ::InternetReadFile(static_cast<HINTERNET>(request), buffer, numberOfBytesToRead, &read);
    numberOfBytesRead = read;
    return ok != FALSE;
}

bool WinInetInternet::InternetCloseHandle(InternetHandle handle) {
    unsent_.erase(handle);
    return ::InternetCloseHandle(static_cast<HINTERNET>(handle)) != FALSE;
}

unsigned long WinInetInternet::GetLastError() { return ::GetLastError(); }

}  // namespace lumivo
