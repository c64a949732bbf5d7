#include "bench/curl_floor.h"

#include <cstring>

namespace lumivo::bench {

namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* reply) {
    static_cast<std::string*>(reply)->append(data, size * count);
    return size * count;
}

}  // namespace

CurlFloor::CurlFloor(std::string baseUrl, std::string connectTo, bool resumeTlsSessions)
    : baseUrl_(std::move(baseUrl)), connectTo_(std::move(connectTo)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (resumeTlsSessions) {
        share_ = curl_share_init();
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
}

CurlFloor::~CurlFloor() {
    if (share_ != nullptr) curl_share_cleanup(share_);
    curl_global_cleanup();
}

long CurlFloor::Request(const char* method, const std::string& path, const std::string& body,
                        const std::string& token, std::string& reply) {
    reply.clear();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return 0;
    const std::string url = baseUrl_ + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (share_ != nullptr) curl_easy_setopt(curl, CURLOPT_SHARE, share_);
    curl_slist* connectTo = curl_slist_append(nullptr, connectTo_.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo);
    const std::string tokenHeader = "x-access-token: " + token;
    curl_slist* headers = curl_slist_append(nullptr, tokenHeader.c_str());
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (std::strcmp(method, "POST") == 0) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    curl_slist_free_all(connectTo);
    return status;
}

}  // namespace lumivo::bench
