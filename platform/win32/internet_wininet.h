#pragma once
// The Internet port on WinINet: each call is the WinINet call of the same name.
// Reads go straight to WinINet in the sizes asked for (the transport's 50-byte
// chunks), so no reply is held here; the time-outs are WinINet's own.

#include <set>
#include <string>

#include "platform/internet_port.h"

namespace lumivo {

class WinInetInternet : public InternetPort {
  public:
    // `connectTo` ("HOST:PORT:TO-HOST:TO-PORT", may be empty) sends connections
    // for HOST:PORT to TO-HOST:TO-PORT, the URL unchanged: a development
    // service on another port stands in for the real one.
    explicit WinInetInternet(const std::string& connectTo = "");

    InternetHandle InternetOpen(const std::wstring& userAgent, unsigned long accessType,
                                const wchar_t* proxy, const wchar_t* proxyBypass,
                                unsigned long flags);
    bool InternetCrackUrl(const std::wstring& url, unsigned long urlLength, unsigned long flags,
                          UrlComponents& components);
    InternetHandle InternetConnect(InternetHandle session, const std::wstring& serverName,
                                   unsigned short serverPort, const wchar_t* userName,
                                   const wchar_t* password, unsigned long service,
                                   unsigned long flags, uintptr context);
    InternetHandle HttpOpenRequest(InternetHandle connection, const std::wstring& verb,
                                   const std::wstring& objectName, const wchar_t* version,
                                   const wchar_t* referrer, const wchar_t* const* acceptTypes,
                                   unsigned long flags, uintptr context);
    bool InternetQueryOption(InternetHandle handle, unsigned long option, void* buffer,
                             unsigned long& bufferLength);
    bool InternetSetOption(InternetHandle handle, unsigned long option, const void* buffer,
                           unsigned long bufferLength);
    bool HttpSendRequest(InternetHandle request, const std::wstring& headers,
                         unsigned long headersLength, const void* optional,
                         unsigned long optionalLength);
    bool HttpQueryInfo(InternetHandle request, unsigned long infoLevel, void* buffer,
                       unsigned long& bufferLength, unsigned long* index);
    bool InternetReadFile(InternetHandle request, void* buffer, unsigned long numberOfBytesToRead,
                          unsigned long& numberOfBytesRead);
    bool InternetCloseHandle(InternetHandle handle);
    unsigned long GetLastError();

  private:
    // Requests whose send failed. WinINet on Windows refuses to read them;
    // Wine's reads 0 bytes instead, which would look like an empty reply.
    std::set<InternetHandle> unsent_;
    std::wstring fromHost_;
    unsigned short fromPort_;
    std::wstring toHost_;
    unsigned short toPort_;
};

}  // namespace lumivo
