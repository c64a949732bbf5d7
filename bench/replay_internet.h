#pragma once
// An Internet port for measurements: every POST gets the same status and
// reply, every other request an empty 200, served in the sizes asked for.
// Nothing is recorded, so the cost measured is the agent's own.

#include <cstring>
#include <string>

#include "platform/internet_port.h"

namespace lumivo::bench {

class ReplayInternet : public InternetPort {
  public:
    int status = 200;
    std::string reply;
    long requests = 0;

    InternetHandle InternetOpen(const std::wstring&, unsigned long, const wchar_t*, const wchar_t*,
                                unsigned long) override {
        return Handle();
    }
    bool InternetCrackUrl(const std::wstring&, unsigned long, unsigned long,
                          UrlComponents& components) override {
        components.hostName = L"localhost";
        components.urlPath = L"/api/x";
        components.port = 443;
        return true;
    }
    InternetHandle InternetConnect(InternetHandle, const std::wstring&, unsigned short,
                                   const wchar_t*, const wchar_t*, unsigned long, unsigned long,
                                   std::uintptr_t) override {
        return Handle();
    }
    InternetHandle HttpOpenRequest(InternetHandle, const std::wstring& verb, const std::wstring&,
                                   const wchar_t*, const wchar_t*, const wchar_t* const*,
                                   unsigned long, std::uintptr_t) override {
        post_ = verb == L"POST";
        return Handle();
    }
    bool InternetQueryOption(InternetHandle, unsigned long, void* buffer,
                             unsigned long& length) override {
        std::memset(buffer, 0, length);
        return true;
    }
    bool InternetSetOption(InternetHandle, unsigned long, const void*, unsigned long) override {
        return true;
    }
    bool HttpSendRequest(InternetHandle, const std::wstring&, unsigned long, const void*,
                         unsigned long) override {
        ++requests;
        offset_ = 0;
        served_ = post_ ? &reply : &empty_;
        return true;
    }
    bool HttpQueryInfo(InternetHandle, unsigned long, void* buffer, unsigned long&,
                       unsigned long*) override {
        const std::uint32_t code = static_cast<std::uint32_t>(post_ ? status : 200);
        std::memcpy(buffer, &code, sizeof code);
        return true;
    }
    bool InternetReadFile(InternetHandle, void* buffer, unsigned long size,
                          unsigned long& read) override {
        const std::size_t left = served_->size() - offset_;
        read = static_cast<unsigned long>(left < size ? left : size);
        std::memcpy(buffer, served_->data() + offset_, read);
        offset_ += read;
        return true;
    }
    bool InternetCloseHandle(InternetHandle) override { return true; }
    unsigned long GetLastError() override { return 0; }

  private:
    InternetHandle Handle() { return &offset_; }
    std::size_t offset_ = 0;
    bool post_ = false;
    const std::string empty_;
    const std::string* served_ = &empty_;
};

}  // namespace lumivo::bench
