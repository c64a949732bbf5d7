// The six calls the agent makes.

#include <chrono>
#include <climits>
#include <cstdlib>

#include <httplib.h>
#include <openssl/rand.h>

#include "devcloud/form.h"
#include "devcloud/json_reply.h"
#include "devcloud/service.h"
#include "devcloud/store.h"
#include "devcloud/wire.h"

namespace lumivo::devcloud {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string RandomHex(int bytes) {
    unsigned char buffer[64];
    RAND_bytes(buffer, bytes);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        text.push_back(digits[buffer[i] >> 4]);
        text.push_back(digits[buffer[i] & 15]);
    }
    return text;
}

namespace {

std::string EscapeRegex(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// A positive 32-bit id from the path, or 0.
int PathId(const std::string& text) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value <= 0 || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

// The device the request's token was issued to, or 0 after answering 401.
int Authenticate(Store& store, const httplib::Request& req, httplib::Response& res) {
    const std::string token = req.get_header_value("x-access-token");
    if (token.empty()) {
        SendMessage(res, 401, "Missing access token");
        return 0;
    }
    int deviceId = store.DeviceForToken(token);
    if (deviceId == 0) SendMessage(res, 401, "Unknown access token");
    return deviceId;
}

// The device named in the path, which must be the token's; false after answering.
bool AuthenticatePathDevice(Store& store, const httplib::Request& req, httplib::Response& res,
                            Device& device) {
    int tokenDevice = Authenticate(store, req, res);
    if (tokenDevice == 0) return false;
    int id = PathId(req.matches[1]);
    if (id == 0 || !store.FindDevice(id, device)) {
        SendMessage(res, 404, "Unknown device");
        return false;
    }
    if (id != tokenDevice) {
        SendMessage(res, 403, "The access token belongs to another device");
        return false;
    }
    return true;
}

void Enrol(Store& store, const std::string& enrolmentSecret, const httplib::Request& req,
           httplib::Response& res) {
    std::string secret, typeCode, version;
    FormValue(req.body, "secretKey", secret);
    FormValue(req.body, "typeCode", typeCode);
    FormValue(req.body, "version", version);
    if (secret != enrolmentSecret) return SendMessage(res, 404, "Wrong secret key");
    const std::string password = RandomHex(12);
    const std::string token = RandomHex(24);
    int id = store.AddDevice(password, typeCode, version, NowMs());
    if (id == 0 || !store.AddToken(token, id))
        return SendMessage(res, 500, "Cannot store the device");
    cJSON* reply = cJSON_CreateObject();
    cJSON_AddNumberToObject(reply, "id", id);
    cJSON_AddStringToObject(reply, "password", password.c_str());
    cJSON_AddStringToObject(reply, "token", token.c_str());
    SendJson(res, 200, reply);
}

void Login(Store& store, const std::string& enrolmentSecret, const httplib::Request& req,
           httplib::Response& res) {
    std::string secret, password, version;
    FormValue(req.body, "secretKey", secret);
    FormValue(req.body, "password", password);
    bool hasVersion = FormValue(req.body, "version", version);
    Device device;
    int id = PathId(req.matches[1]);
    if (id == 0 || !store.FindDevice(id, device)) return SendMessage(res, 404, "Unknown device");
    if (secret != enrolmentSecret) return SendMessage(res, 404, "Wrong secret key");
    if (password != device.password) return SendMessage(res, 404, "Wrong password");
    const std::string token = RandomHex(24);
    if (!store.AddToken(token, id)) return SendMessage(res, 500, "Cannot store the token");
    if (hasVersion) store.SetDeviceVersion(id, version);
    store.SetLastLogin(id, NowMs());
    cJSON* reply = cJSON_CreateObject();
    cJSON_AddStringToObject(reply, "token", token.c_str());
    SendJson(res, 200, reply);
}

void HeartBeat(Store& store, const httplib::Request& req, httplib::Response& res) {
    Device device;
    if (!AuthenticatePathDevice(store, req, res, device)) return;
    if (!store.SetLastSeen(device.id, NowMs())) return SendMessage(res, 500, "Cannot store");
    SendJson(res, 200, cJSON_CreateObject());
}

void CheckRequests(Store& store, const httplib::Request& req, httplib::Response& res) {
    int deviceId = Authenticate(store, req, res);
    if (deviceId == 0) return;
    Device device;
    if (!store.FindDevice(deviceId, device)) return SendMessage(res, 404, "Unknown device");
    // It polls, so its connections are on, whatever the password it sent.
    store.SetLastPoll(deviceId, NowMs());
    std::string password;
    FormTail(req.body, "password", password);
    if (password != device.connectionsPassword)
        return SendMessage(res, 403, "Wrong connections password");
    cJSON* reply = cJSON_CreateObject();
    cJSON* data = cJSON_AddArrayToObject(reply, "data");
    for (const Request& r : store.OpenRequests(deviceId)) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "id", r.id);
        cJSON_AddStringToObject(item, "status", r.status.c_str());
        cJSON_AddStringToObject(item, "type", r.type.c_str());
        cJSON_AddStringToObject(item, "data", r.data.c_str());
        cJSON_AddItemToArray(data, item);
    }
    SendJson(res, 200, reply);
}

void Answer(Store& store, const httplib::Request& req, httplib::Response& res) {
    int deviceId = Authenticate(store, req, res);
    if (deviceId == 0) return;
    Request request;
    int id = PathId(req.matches[1]);
    if (id == 0 || !store.FindRequest(id, request) || request.deviceId != deviceId)
        return SendMessage(res, 404, "Unknown request");
    if (request.status == "ended") return SendMessage(res, 409, "The request has ended");
    // "data" is JSON text sent unencoded: everything after the first "&data=".
    std::string status, data;
    FormTail(req.body, "data", data);
    if (!FormValue(FormHead(req.body, "data"), "status", status))
        return SendMessage(res, 400, "Missing status");
    const std::string newStatus = status == "vpn-created" ? "vpn-created" : "error";
    if (!store.AnswerRequest(id, newStatus, status, data))
        return SendMessage(res, 500, "Cannot store the answer");
    SendJson(res, 200, cJSON_CreateObject());
}

void DisconnectAll(Store& store, const httplib::Request& req, httplib::Response& res) {
    int deviceId = Authenticate(store, req, res);
    if (deviceId == 0) return;
    if (!store.EndOpenRequests(deviceId)) return SendMessage(res, 500, "Cannot store");
    SendJson(res, 200, cJSON_CreateObject());
}

}  // namespace

DeviceService::DeviceService(Store& store, const DeviceSettings& settings) {
    const std::string p = EscapeRegex(settings.prefix);
    const std::string secret = settings.enrolmentSecret;
    Store* s = &store;
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    routes_.push_back({"POST", std::regex(p + "devices"),
                       [s, secret](Req q, Res r) { Enrol(*s, secret, q, r); }});
    routes_.push_back({"POST", std::regex(p + R"(devices/([^/]+)/login)"),
                       [s, secret](Req q, Res r) { Login(*s, secret, q, r); }});
    routes_.push_back({"GET", std::regex(p + R"(devices/([^/]+)/heart-beat)"),
                       [s](Req q, Res r) { HeartBeat(*s, q, r); }});
    routes_.push_back({"POST", std::regex(p + "connections/check-requests"),
                       [s](Req q, Res r) { CheckRequests(*s, q, r); }});
    routes_.push_back({"DELETE", std::regex(p + "connections/disconnect-all"),
                       [s](Req q, Res r) { DisconnectAll(*s, q, r); }});
    routes_.push_back({"PUT", std::regex(p + R"(connections/([^/]+))"),
                       [s](Req q, Res r) { Answer(*s, q, r); }});
}

void DeviceService::Handle(const LoggedRequest& request, int& status, std::string& body) const {
    httplib::Request req;
    req.method = request.method;
    // The path as sent, without its query; nothing is percent-decoded.
    req.path = request.path.substr(0, request.path.find('?'));
    for (const auto& [name, value] : request.headers) req.headers.emplace(name, value);
    req.body = request.body;
    httplib::Response res;
    SendMessage(res, 404, "Not found");
    for (const Route& route : routes_) {
        if (route.method == req.method && std::regex_match(req.path, req.matches, route.path)) {
            route.handler(req, res);
            break;
        }
    }
    status = res.status;
    body = res.body;
}

}  // namespace lumivo::devcloud
