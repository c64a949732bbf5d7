#pragma once
// The floor the agent's transport is measured against: a minimal libcurl
// client that makes the same requests the way the agent makes them (a fresh
// easy handle, so a fresh connection and TLS session, per request) with
// certificate verification switched off.

#include <string>

#include <curl/curl.h>

namespace lumivo::bench {

class CurlFloor {
  public:
    // connectTo as curl's CONNECT_TO ("HOST:PORT:TO-HOST:TO-PORT"); with
    // resumeTlsSessions the handles share one TLS session cache.
    CurlFloor(std::string baseUrl, std::string connectTo, bool resumeTlsSessions);
    ~CurlFloor();
    CurlFloor(const CurlFloor&) = delete;
    CurlFloor& operator=(const CurlFloor&) = delete;

    // One request; the HTTP status, 0 when the transfer failed.
    long Request(const char* method, const std::string& path, const std::string& body,
                 const std::string& token, std::string& reply);

  private:
    std::string baseUrl_;
    std::string connectTo_;
    CURLSH* share_ = nullptr;
};

}  // namespace lumivo::bench
