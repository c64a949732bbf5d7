// The operator's interface: devices, requests, the wire log and faults.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <strings.h>

#include "devcloud/embedded_files.h"
#include "devcloud/json_reply.h"
#include "devcloud/service.h"
#include "devcloud/store.h"
#include "devcloud/wire.h"

namespace lumivo::devcloud {

namespace {

constexpr long long onlineWindowMs = 15000;

std::string IsoTime(long long ms) {
    if (ms <= 0) return std::string();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return buffer;
}

std::string Base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

int PathId(const std::string& text) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value <= 0 || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

// The body as a JSON object, or null after answering 400.
cJSON* ParseBody(const httplib::Request& req, httplib::Response& res) {
    cJSON* tree = ParseJson(req.body);
    if (!cJSON_IsObject(tree)) {
        cJSON_Delete(tree);
        SendMessage(res, 400, "The body must be a JSON object");
        return nullptr;
    }
    return tree;
}

std::string StringOr(const cJSON* object, const char* name, const std::string& fallback) {
    std::string value = fallback;
    GetString(object, name, value);
    return value;
}

long long NumberOr(const cJSON* object, const char* name, long long fallback) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsNumber(item) ? static_cast<long long>(item->valuedouble) : fallback;
}

void ListDevices(Store& store, httplib::Response& res) {
    const long long now = NowMs();
    cJSON* list = cJSON_CreateArray();
    for (const Device& d : store.Devices()) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "id", d.id);
        cJSON_AddStringToObject(item, "enrolledAt", IsoTime(d.enrolledMs).c_str());
        cJSON_AddStringToObject(item, "lastSeen", IsoTime(d.lastSeenMs).c_str());
        cJSON_AddStringToObject(item, "lastLogin", IsoTime(d.lastLoginMs).c_str());
        cJSON_AddBoolToObject(item, "online",
                              d.lastSeenMs > 0 && now - d.lastSeenMs <= onlineWindowMs);
        cJSON_AddStringToObject(item, "connectionsPassword", d.connectionsPassword.c_str());
        cJSON_AddStringToObject(item, "password", d.password.c_str());
        cJSON_AddStringToObject(item, "typeCode", d.typeCode.c_str());
        cJSON_AddStringToObject(item, "version", d.version.c_str());
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

void SetConnectionsPassword(Store& store, const httplib::Request& req, httplib::Response& res) {
    int id = PathId(req.matches[1]);
    JsonTree body(ParseBody(req, res));
    if (!body.get()) return;
    std::string password;
    if (!GetString(body.get(), "password", password))
        return SendMessage(res, 400, "\"password\" must be a string");
    if (id == 0 || !store.SetConnectionsPassword(id, password))
        return SendMessage(res, 404, "Unknown device");
    SendJson(res, 200, cJSON_CreateObject());
}

void CreateRequest(Store& store, const httplib::Request& req, httplib::Response& res) {
    int id = PathId(req.matches[1]);
    JsonTree body(ParseBody(req, res));
    if (!body.get()) return;
    Device device;
    if (id == 0 || !store.FindDevice(id, device)) return SendMessage(res, 404, "Unknown device");
    // The request's "data" text: the five parameters, unless the operator
    // gives the text itself (to try the agent on text that is not JSON).
    std::string data;
    if (!GetString(body.get(), "data", data)) {
        JsonTree parameters(cJSON_CreateObject());
        for (const char* name : {"url", "username", "password", "domain", "preSharedKey"})
            cJSON_AddStringToObject(parameters.get(), name, StringOr(body.get(), name, "").c_str());
        data = CompactJson(parameters.get());
    }
    int requestId = store.AddRequest(id, StringOr(body.get(), "type", "vpn"),
                                     StringOr(body.get(), "status", "request"), data);
    if (requestId == 0) return SendMessage(res, 500, "Cannot store the request");
    cJSON* reply = cJSON_CreateObject();
    cJSON_AddNumberToObject(reply, "id", requestId);
    SendJson(res, 200, reply);
}

// The device's answer with its VPN address and adapters picked out.
cJSON* AnswerJson(const Request& r) {
    if (!r.answered) return cJSON_CreateNull();
    cJSON* answer = cJSON_CreateObject();
    cJSON_AddStringToObject(answer, "status", r.answerStatus.c_str());
    cJSON_AddStringToObject(answer, "data", r.answerData.c_str());
    JsonTree data(ParseJson(r.answerData));
    cJSON_AddStringToObject(answer, "serverIp", StringOr(data.get(), "serverIp", "").c_str());
    const cJSON* interfaces = cJSON_GetObjectItemCaseSensitive(data.get(), "networkInterfaces");
    cJSON_AddItemToObject(
        answer, "networkInterfaces",
        cJSON_IsObject(interfaces) ? cJSON_Duplicate(interfaces, 1) : cJSON_CreateObject());
    return answer;
}

void ListRequests(Store& store, httplib::Response& res) {
    cJSON* list = cJSON_CreateArray();
    for (const Request& r : store.Requests()) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "id", r.id);
        cJSON_AddNumberToObject(item, "deviceId", r.deviceId);
        cJSON_AddStringToObject(item, "type", r.type.c_str());
        cJSON_AddStringToObject(item, "status", r.status.c_str());
        cJSON_AddStringToObject(item, "data", r.data.c_str());
        cJSON_AddItemToObject(item, "answer", AnswerJson(r));
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

void EndRequest(Store& store, const httplib::Request& req, httplib::Response& res) {
    int id = PathId(req.matches[1]);
    if (id == 0 || !store.EndRequest(id)) return SendMessage(res, 404, "Unknown request");
    SendJson(res, 200, cJSON_CreateObject());
}

// The devices a logged call is about: the one in its path, its token's
// owner, and for an enrolment the id it was given. tokenOwners caches the
// lookups of one listing.
std::set<int> DevicesOf(const LoggedRequest& e, const std::string& prefix, Store& store,
                        std::map<std::string, int>& tokenOwners) {
    std::set<int> ids;
    const std::string devices = prefix + "devices";
    if (e.path.compare(0, devices.size() + 1, devices + "/") == 0) {
        std::size_t start = devices.size() + 1;
        ids.insert(PathId(e.path.substr(start, e.path.find('/', start) - start)));
    }
    for (const auto& [name, value] : e.headers) {
        if (strcasecmp(name.c_str(), "x-access-token") != 0) continue;
        auto found = tokenOwners.find(value);
        if (found == tokenOwners.end())
            found = tokenOwners.emplace(value, store.DeviceForToken(value)).first;
        ids.insert(found->second);
    }
    if (e.path == devices && e.status == 200) {
        std::size_t bodyStart = e.reply.find("\r\n\r\n");
        JsonTree reply(ParseJson(bodyStart == std::string::npos ? "" : e.reply.substr(bodyStart + 4)));
        const cJSON* id = cJSON_GetObjectItemCaseSensitive(reply.get(), "id");
        if (cJSON_IsNumber(id)) ids.insert(id->valueint);
    }
    ids.erase(0);
    return ids;
}

void ListLog(Store& store, WireRecorder& recorder, const std::string& prefix,
             const httplib::Request& req, httplib::Response& res) {
    int device = 0;
    if (req.has_param("device") && (device = PathId(req.get_param_value("device"))) == 0)
        return SendMessage(res, 400, "\"device\" must be a device id");
    std::map<std::string, int> tokenOwners;
    cJSON* list = cJSON_CreateArray();
    for (const LoggedRequest& e : recorder.Log()) {
        if (device != 0 && DevicesOf(e, prefix, store, tokenOwners).count(device) == 0) continue;
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "method", e.method.c_str());
        cJSON_AddStringToObject(item, "path", e.path.c_str());
        cJSON* headers = cJSON_AddArrayToObject(item, "headers");
        for (const auto& [name, value] : e.headers) {
            cJSON* pair = cJSON_CreateArray();
            cJSON_AddItemToArray(pair, cJSON_CreateString(name.c_str()));
            cJSON_AddItemToArray(pair, cJSON_CreateString(value.c_str()));
            cJSON_AddItemToArray(headers, pair);
        }
        // JSON strings end at a NUL byte; the base64 forms are exact.
        cJSON_AddStringToObject(item, "body", e.body.c_str());
        cJSON_AddStringToObject(item, "bodyBase64", Base64(e.body).c_str());
        cJSON_AddStringToObject(item, "headBase64", Base64(e.head).c_str());
        cJSON_AddBoolToObject(item, "complete", e.complete);
        cJSON_AddNumberToObject(item, "status", e.status);
        cJSON_AddNumberToObject(item, "receivedMs", static_cast<double>(e.receivedMs));
        // The answer as it went out, split at the end of its head.
        std::size_t headEnd = e.reply.find("\r\n\r\n");
        headEnd = headEnd == std::string::npos ? e.reply.size() : headEnd + 4;
        const std::string replyBody = e.reply.substr(headEnd);
        cJSON_AddStringToObject(item, "replyHeadBase64", Base64(e.reply.substr(0, headEnd)).c_str());
        cJSON_AddStringToObject(item, "replyBody", replyBody.c_str());
        cJSON_AddStringToObject(item, "replyBodyBase64", Base64(replyBody).c_str());
        cJSON_AddBoolToObject(item, "replyTruncated", e.replyTruncated);
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

void AddFault(WireRecorder& recorder, const httplib::Request& req, httplib::Response& res) {
    JsonTree body(ParseBody(req, res));
    if (!body.get()) return;
    Fault fault;
    if (!GetString(body.get(), "path", fault.path) || fault.path.empty())
        return SendMessage(res, 400, "\"path\" must be a non-empty string");
    long long count = NumberOr(body.get(), "count", 1);
    long long status = NumberOr(body.get(), "status", 0);
    long long delay = NumberOr(body.get(), "delayMs", 0);
    if (count < 1 || count > INT_MAX) return SendMessage(res, 400, "\"count\" must be at least 1");
    if (status != 0 && (status < 100 || status > 999))
        return SendMessage(res, 400, "\"status\" must be an HTTP status");
    if (delay < 0 || delay > 600000)
        return SendMessage(res, 400, "\"delayMs\" must be 0 to 600000");
    fault.count = static_cast<int>(count);
    fault.status = static_cast<int>(status);
    fault.delayMs = static_cast<int>(delay);
    fault.body = StringOr(body.get(), "body", "");
    GetBool(body.get(), "drop", fault.drop);
    fault.dropAfterBytes = static_cast<long>(NumberOr(body.get(), "dropAfterBytes", -1));
    recorder.AddFault(fault);
    SendJson(res, 200, cJSON_CreateObject());
}

void ListFaults(WireRecorder& recorder, httplib::Response& res) {
    cJSON* list = cJSON_CreateArray();
    for (const Fault& f : recorder.Faults()) {
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "path", f.path.c_str());
        cJSON_AddNumberToObject(item, "count", f.count);
        cJSON_AddNumberToObject(item, "status", f.status);
        cJSON_AddStringToObject(item, "body", f.body.c_str());
        cJSON_AddNumberToObject(item, "delayMs", f.delayMs);
        cJSON_AddBoolToObject(item, "drop", f.drop);
        cJSON_AddNumberToObject(item, "dropAfterBytes", static_cast<double>(f.dropAfterBytes));
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

// A file built into the binary. The page may load only its own assets and
// talk only to this side.
void ServeEmbedded(const EmbeddedFile& file, httplib::Response& res) {
    res.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "no-cache");
    res.set_content(reinterpret_cast<const char*>(file.bytes), file.size, file.contentType);
}

// Constant time, so the token cannot be guessed byte by byte.
bool BearerMatches(const std::string& authorization, const std::string& token) {
    const std::string expected = "Bearer " + token;
    return authorization.size() == expected.size() &&
           CRYPTO_memcmp(authorization.data(), expected.data(), expected.size()) == 0;
}

}  // namespace

void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder,
                           const OperatorSettings& settings) {
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    Store* s = &store;
    WireRecorder* w = &recorder;
    const std::string prefix = settings.devicePrefix;
    // Before any route: every operator request, whatever its path, shows the token.
    if (!settings.token.empty()) {
        server.set_pre_routing_handler([token = settings.token](Req q, Res r) {
            if (BearerMatches(q.get_header_value("Authorization"), token))
                return httplib::Server::HandlerResponse::Unhandled;
            // The console's page and assets hold nothing secret, and a browser
            // cannot send the token when it first opens the page: the page
            // then sends it with every call of the API.
            for (std::size_t i = 0; i < embeddedFileCount; ++i) {
                if (q.method == "GET" && q.path == embeddedFiles[i].path)
                    return httplib::Server::HandlerResponse::Unhandled;
            }
            r.set_header("WWW-Authenticate", "Bearer");
            SendMessage(r, 401, "This needs the operator token: Authorization: Bearer <token>");
            return httplib::Server::HandlerResponse::Handled;
        });
    }
    server.Get("/devices", [s](Req, Res r) { ListDevices(*s, r); });
    server.Put(R"(/devices/([^/]+)/connections-password)",
               [s](Req q, Res r) { SetConnectionsPassword(*s, q, r); });
    server.Post(R"(/devices/([^/]+)/requests)", [s](Req q, Res r) { CreateRequest(*s, q, r); });
    server.Get("/requests", [s](Req, Res r) { ListRequests(*s, r); });
    server.Delete(R"(/requests/([^/]+))", [s](Req q, Res r) { EndRequest(*s, q, r); });
    server.Get("/log", [s, w, prefix](Req q, Res r) { ListLog(*s, *w, prefix, q, r); });
    server.Delete("/log", [w](Req, Res r) {
        w->ClearLog();
        SendJson(r, 200, cJSON_CreateObject());
    });
    server.Get("/faults", [w](Req, Res r) { ListFaults(*w, r); });
    server.Post("/faults", [w](Req q, Res r) { AddFault(*w, q, r); });
    server.Delete("/faults", [w](Req, Res r) {
        w->ClearFaults();
        SendJson(r, 200, cJSON_CreateObject());
    });
    // The console and the API description, built into the binary.
    for (std::size_t i = 0; i < embeddedFileCount; ++i) {
        const EmbeddedFile* file = &embeddedFiles[i];
        std::string pattern;  // the path as a pattern that matches only itself
        for (const char* c = file->path; *c != '\0'; ++c)
            pattern += *c == '.' ? std::string("\\.") : std::string(1, *c);
        server.Get(pattern, [file](Req, Res r) { ServeEmbedded(*file, r); });
    }
    server.set_error_handler([](Req, Res r) {
        if (r.body.empty()) SendMessage(r, r.status, r.status == 404 ? "Not found" : "Error");
    });
}

}  // namespace lumivo::devcloud
