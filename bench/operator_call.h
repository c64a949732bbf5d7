#pragma once
// One call of devcloud's operator interface (plain HTTP on loopback); the
// benchmarks use it to clear the request log and to create VPN requests. The
// operator token comes from LUMIVO_BENCH_OPERATOR_TOKEN.

#include <cstdlib>
#include <string>

#include <curl/curl.h>

namespace lumivo::bench {

// True when the operator interface answered 200.
inline bool OperatorCall(int port, const char* method, const std::string& path,
                         const std::string& body = std::string()) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return false;
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    const char* token = std::getenv("LUMIVO_BENCH_OPERATOR_TOKEN");
    const std::string authorization = std::string("Authorization: Bearer ") + (token ? token : "");
    curl_slist* headers = curl_slist_append(nullptr, authorization.c_str());
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return status == 200;
}

}  // namespace lumivo::bench
