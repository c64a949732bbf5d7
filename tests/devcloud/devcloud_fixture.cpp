#include "tests/devcloud/devcloud_fixture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/constants.h"
#include "base/text.h"

namespace lumivo {

namespace {

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

HttpReply Perform(const std::string& method, const std::string& url,
                  const std::vector<std::string>& headers, const std::string& body,
                  const std::string& caFile) {
    HttpReply reply;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        reply.error = "curl_easy_init failed";
        return reply;
    }
    curl_slist* list = nullptr;
    for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
    list = curl_slist_append(list, "Expect:");  // the agent never waits for 100 Continue
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Lumivo Device");
    if (method != "GET" || !body.empty()) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    if (caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    } else {
        reply.error = curl_easy_strerror(result);
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

std::string Str(const cJSON* object, const char* name) {
    std::string value;
    GetJsonString(object, name, value);
    return value;
}

int Int(const cJSON* object, const char* name) {
    std::int32_t value = 0;
    GetJsonInt(object, name, value);
    return value;
}

std::string Compact(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    std::string out = text ? text : "";
    cJSON_free(text);
    return out;
}

std::string Base64Decode(const std::string& text) {
    static const std::string digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        std::size_t v = digits.find(c);
        if (v == std::string::npos) continue;  // "=" padding
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

// "https://host:port/path": the host (IPv6 in its brackets), port and path.
bool SplitUrl(const std::string& url, std::string& host, int& port, std::string& path) {
    std::size_t start = url.find("://");
    if (start == std::string::npos) return false;
    start += 3;
    std::size_t slash = url.find('/', start);
    std::size_t colon = url.rfind(':', slash);
    if (slash == std::string::npos || colon == std::string::npos || colon < start) return false;
    host = url.substr(start, colon - start);
    port = std::atoi(url.c_str() + colon + 1);
    path = url.substr(slash);
    return port > 0 && !host.empty();
}

}  // namespace

DevCloud::DevCloud(std::vector<std::string> extraArgs, int port, int operatorPort)
    : extraArgs_(std::move(extraArgs)), port_(port), operatorPort_(operatorPort) {
    char folder[] = "/tmp/devcloud-test-XXXXXX";
    if (mkdtemp(folder) != nullptr) dataDir_ = folder;
}

DevCloud::~DevCloud() {
    Stop();
    std::error_code ec;
    if (!dataDir_.empty()) std::filesystem::remove_all(dataDir_, ec);
}

bool DevCloud::Start() {
    if (running() || dataDir_.empty()) return false;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {DEVCLOUD_BINARY,
                                     "--port",
                                     std::to_string(port_),
                                     "--operator-port",
                                     std::to_string(operatorPort_),
                                     "--data-dir",
                                     dataDir_};
    const std::size_t lines = 2;  // where it listens, and the console's address
    bool secretGiven = false;
    for (std::size_t i = 0; i < extraArgs_.size(); ++i) {
        if (extraArgs_[i] == "--enrolment-secret" && i + 1 < extraArgs_.size()) {
            secretGiven = true;
            enrolmentSecret_ = extraArgs_[i + 1];
        }
    }
    if (!secretGiven) args.insert(args.end(), {"--enrolment-secret", expectedEnrolmentSecret});
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        // A test that crashes must not leave the service running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid_ < 0) {
        close(out[0]);
        return false;
    }
    // The line it prints once it listens, and the console's after it.
    std::string output;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n')) < lines) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{out[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char chunk[256];
        ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) break;
        output.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    line_ = output.substr(0, output.find('\n'));
    tokenLine_ = line_.size() < output.size()
                     ? output.substr(line_.size() + 1, output.find('\n', line_.size() + 1) -
                                                           line_.size() - 1)
                     : "";
    // "devcloud listening on https://HOST:PORT/PREFIX operator http://HOST:PORT/"
    const std::string lead = "devcloud listening on ", middle = " operator ";
    std::size_t at = line_.find(middle);
    std::string path;
    int port = 0, operatorPort = 0;
    if (line_.compare(0, lead.size(), lead) != 0 || at == std::string::npos ||
        !SplitUrl(line_.substr(lead.size(), at - lead.size()), host_, port, prefix_) ||
        !SplitUrl(line_.substr(at + middle.size()), operatorHost_, operatorPort, path)) {
        Stop();
        return false;
    }
    port_ = port;
    operatorPort_ = operatorPort;
    operatorToken_.clear();
    if (FILE* file = std::fopen((dataDir_ + "/operator-token").c_str(), "r")) {
        char token[256] = "";
        if (std::fgets(token, sizeof token, file)) operatorToken_ = token;
        std::fclose(file);
        if (!operatorToken_.empty() && operatorToken_.back() == '\n') operatorToken_.pop_back();
    }
    return true;
}

bool DevCloud::Stop(int signal) {
    if (pid_ <= 0) return false;
    kill(pid_, signal);
    int status = 0;
    // A stop that hangs is a fault of its own: give it 10 s, then kill.
    bool ended = false;
    for (int i = 0; i < 1000 && !ended; ++i) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR))
            ended = true;
        else
            usleep(10000);
    }
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool DevCloud::Restart() {
    Stop();
    return Start();
}

std::string DevCloud::baseUrl() const {
    return "https://" + host_ + ":" + std::to_string(port_) + prefix_;
}

std::string DevCloud::localhostBaseUrl() const {
    return "https://localhost:" + std::to_string(port_) + prefix_;
}

std::string DevCloud::operatorUrl() const {
    return "http://" + operatorHost_ + ":" + std::to_string(operatorPort_) + "/";
}

std::string DevCloud::certFile() const { return dataDir_ + "/cert.pem"; }

HttpReply DevCloud::Operator(const std::string& method, const std::string& path,
                             const std::string& jsonBody, const std::vector<std::string>& extra) {
    std::string relative = !path.empty() && path[0] == '/' ? path.substr(1) : path;
    std::vector<std::string> headers = {"Content-Type: application/json"};
    if (!operatorToken_.empty()) headers.push_back("Authorization: Bearer " + operatorToken_);
    for (const std::string& header : extra) {
        const std::string name = header.substr(0, header.find(':') + 1);
        headers.erase(std::remove_if(headers.begin(), headers.end(),
                                     [&](const std::string& h) {
                                         return strncasecmp(h.c_str(), name.c_str(),
                                                            name.size()) == 0;
                                     }),
                      headers.end());
        headers.push_back(header);
    }
    return Perform(method, operatorUrl() + relative, headers, jsonBody, "");
}

std::vector<CloudDevice> DevCloud::Devices() {
    std::vector<CloudDevice> devices;
    JsonTree tree(ParseJson(Operator("GET", "devices").body));
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, tree.get()) {
        CloudDevice d;
        d.id = Int(item, "id");
        d.enrolledAt = Str(item, "enrolledAt");
        d.lastSeen = Str(item, "lastSeen");
        d.lastLogin = Str(item, "lastLogin");
        GetJsonBool(item, "online", d.online);
        d.lastPoll = Str(item, "lastPoll");
        GetJsonBool(item, "polling", d.polling);
        d.connectionsPassword = Str(item, "connectionsPassword");
        d.password = Str(item, "password");
        d.version = Str(item, "version");
        devices.push_back(d);
    }
    return devices;
}

bool DevCloud::SetConnectionsPassword(int deviceId, const std::string& password) {
    JsonTree body(cJSON_CreateObject());
    cJSON_AddStringToObject(body.get(), "password", password.c_str());
    return Operator("PUT", "devices/" + std::to_string(deviceId) + "/connections-password",
                    Compact(body.get()))
               .status == 200;
}

int DevCloud::CreateVpnRequest(int deviceId, const std::string& url, const std::string& username,
                               const std::string& password, const std::string& domain,
                               const std::string& preSharedKey) {
    JsonTree body(cJSON_CreateObject());
    cJSON_AddStringToObject(body.get(), "type", "vpn");
    cJSON_AddStringToObject(body.get(), "url", url.c_str());
    cJSON_AddStringToObject(body.get(), "username", username.c_str());
    cJSON_AddStringToObject(body.get(), "password", password.c_str());
    cJSON_AddStringToObject(body.get(), "domain", domain.c_str());
    cJSON_AddStringToObject(body.get(), "preSharedKey", preSharedKey.c_str());
    HttpReply reply =
        Operator("POST", "devices/" + std::to_string(deviceId) + "/requests", Compact(body.get()));
    if (reply.status != 200) return 0;
    JsonTree tree(ParseJson(reply.body));
    return Int(tree.get(), "id");
}

std::vector<CloudRequest> DevCloud::Requests() {
    std::vector<CloudRequest> requests;
    JsonTree tree(ParseJson(Operator("GET", "requests").body));
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, tree.get()) {
        CloudRequest r;
        r.id = Int(item, "id");
        r.deviceId = Int(item, "deviceId");
        r.type = Str(item, "type");
        r.status = Str(item, "status");
        r.data = Str(item, "data");
        r.createdAt = Str(item, "createdAt");
        r.changedAt = Str(item, "changedAt");
        const cJSON* answer = cJSON_GetObjectItemCaseSensitive(item, "answer");
        if (cJSON_IsObject(answer)) {
            r.answered = true;
            r.answerStatus = Str(answer, "status");
            r.answerData = Str(answer, "data");
            r.serverIp = Str(answer, "serverIp");
            r.networkInterfacesJson =
                Compact(cJSON_GetObjectItemCaseSensitive(answer, "networkInterfaces"));
        }
        requests.push_back(r);
    }
    return requests;
}

bool DevCloud::EndRequest(int requestId) {
    return Operator("DELETE", "requests/" + std::to_string(requestId)).status == 200;
}

std::vector<LoggedCall> DevCloud::Log(int deviceId) {
    std::vector<LoggedCall> calls;
    JsonTree tree(ParseJson(
        Operator("GET", deviceId == 0 ? "log" : "log?device=" + std::to_string(deviceId)).body));
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, tree.get()) {
        LoggedCall c;
        c.method = Str(item, "method");
        c.path = Str(item, "path");
        const cJSON* pair = nullptr;
        cJSON_ArrayForEach(pair, cJSON_GetObjectItemCaseSensitive(item, "headers")) {
            const cJSON* name = cJSON_GetArrayItem(pair, 0);
            const cJSON* value = cJSON_GetArrayItem(pair, 1);
            if (cJSON_IsString(name) && cJSON_IsString(value))
                c.headers.emplace_back(name->valuestring, value->valuestring);
        }
        c.head = Base64Decode(Str(item, "headBase64"));
        c.body = Base64Decode(Str(item, "bodyBase64"));
        GetJsonBool(item, "complete", c.complete);
        c.status = Int(item, "status");
        const cJSON* received = cJSON_GetObjectItemCaseSensitive(item, "receivedMs");
        if (cJSON_IsNumber(received)) c.receivedMs = static_cast<long long>(received->valuedouble);
        c.replyHead = Base64Decode(Str(item, "replyHeadBase64"));
        c.replyBody = Base64Decode(Str(item, "replyBodyBase64"));
        GetJsonBool(item, "replyTruncated", c.replyTruncated);
        calls.push_back(c);
    }
    return calls;
}

bool DevCloud::ClearLog() { return Operator("DELETE", "log").status == 200; }

bool DevCloud::AddFault(const FaultSpec& fault) {
    JsonTree body(cJSON_CreateObject());
    cJSON_AddStringToObject(body.get(), "path", fault.path.c_str());
    cJSON_AddNumberToObject(body.get(), "count", fault.count);
    cJSON_AddNumberToObject(body.get(), "status", fault.status);
    cJSON_AddStringToObject(body.get(), "body", fault.body.c_str());
    cJSON_AddNumberToObject(body.get(), "delayMs", fault.delayMs);
    cJSON_AddBoolToObject(body.get(), "drop", fault.drop);
    cJSON_AddNumberToObject(body.get(), "dropAfterBytes",
                            static_cast<double>(fault.dropAfterBytes));
    return Operator("POST", "faults", Compact(body.get())).status == 200;
}

bool DevCloud::ClearFaults() { return Operator("DELETE", "faults").status == 200; }

HttpReply DevCloud::Device(const std::string& method, const std::string& path,
                           const std::string& body, const std::string& token) {
    std::vector<std::string> headers;
    if (!token.empty()) headers.push_back("x-access-token: " + token);
    headers.push_back("Content-Type: application/x-www-form-urlencoded");
    bool normalCertificate = true;
    for (const std::string& arg : extraArgs_)
        if (arg.compare(0, 6, "--cert") == 0) normalCertificate = false;
    return Perform(method, baseUrl() + path, headers, body, normalCertificate ? certFile() : "");
}

bool DevCloud::Enrol(int& id, std::string& password, std::string& token) {
    HttpReply reply = Device("POST", "devices",
                             "secretKey=" + enrolmentSecret_ +
                                 "&typeCode=" + deviceTypeCode + "&version=" + agentVersion);
    if (reply.status != 200) return false;
    JsonTree tree(ParseJson(reply.body));
    id = Int(tree.get(), "id");
    password = Str(tree.get(), "password");
    token = Str(tree.get(), "token");
    return id != 0 && !password.empty() && !token.empty();
}

}  // namespace lumivo
