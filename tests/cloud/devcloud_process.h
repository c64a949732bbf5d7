#pragma once
// devcloud on free loopback ports in a temporary data folder, with plain
// HTTP calls on its operator interface.

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "cloud/child_process.h"

namespace lumivo::test {

class DevcloudProcess {
  public:
    explicit DevcloudProcess(std::vector<std::string> extraArgs = {}) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivo-devcloud-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
        std::vector<std::string> args{"--data-dir", (folder_ / "data").string(), "--port",
                                      "0",          "--operator-port",           "0"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        process_ =
            std::make_unique<ChildProcess>(DEVCLOUD_BINARY, args, std::vector<std::string>{});
        const std::string prefix = "devcloud listening on https://127.0.0.1:";
        int index = process_->WaitFor(
            [&prefix](const std::string& line) { return line.rfind(prefix, 0) == 0; }, 30);
        if (index < 0) return;
        const std::string& line = process_->Lines()[index].text;
        port_ = std::stoi(line.substr(prefix.size()));
        const std::string marker = " operator http://127.0.0.1:";
        std::size_t at = line.find(marker);
        if (at != std::string::npos) operatorPort_ = std::stoi(line.substr(at + marker.size()));
    }
    ~DevcloudProcess() {
        process_.reset();
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    DevcloudProcess(const DevcloudProcess&) = delete;
    DevcloudProcess& operator=(const DevcloudProcess&) = delete;

    bool Running() const { return port_ > 0 && operatorPort_ > 0; }
    int Port() const { return port_; }
    // The agent's service URL host and port, sent to this devcloud instead.
    std::string ConnectTo() const { return "localhost:8443:127.0.0.1:" + std::to_string(port_); }
    const std::filesystem::path& Folder() const { return folder_; }

    // One operator call; the reply body, or empty with status 0 when it failed.
    std::string Operator(const std::string& method, const std::string& path,
                         const std::string& json = std::string(), long* status = nullptr) {
        std::string reply;
        long code = 0;
        CURL* curl = curl_easy_init();
        if (curl != nullptr) {
            const std::string url = "http://127.0.0.1:" + std::to_string(operatorPort_) + path;
            curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
            curl_easy_setopt(curl, CURLOPT_PROXY, "");
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
            if (!json.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.c_str());
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
            if (curl_easy_perform(curl) == CURLE_OK) {
                curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
            } else {
                reply.clear();
            }
            curl_slist_free_all(headers);
            curl_easy_cleanup(curl);
        }
        if (status != nullptr) *status = code;
        return reply;
    }

  private:
    static std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    }

    std::filesystem::path folder_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
    int operatorPort_ = 0;
};

}  // namespace lumivo::test
