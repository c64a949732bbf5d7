// The operator's interface: devices, requests, the wire log and faults.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <httplib.h>
#include <openssl/evp.h>

#include "base/text.h"
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
    GetJsonString(object, name, value);
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
        cJSON_AddStringToObject(item, "lastSeen", IsoTime(d.lastSeenMs).c_str());
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
    if (!GetJsonString(body.get(), "password", password))
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
    if (!GetJsonString(body.get(), "data", data)) {
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

void ListLog(WireRecorder& recorder, httplib::Response& res) {
    cJSON* list = cJSON_CreateArray();
    for (const LoggedRequest& e : recorder.Log()) {
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
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

void AddFault(WireRecorder& recorder, const httplib::Request& req, httplib::Response& res) {
    JsonTree body(ParseBody(req, res));
    if (!body.get()) return;
    Fault fault;
    if (!GetJsonString(body.get(), "path", fault.path) || fault.path.empty())
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
    GetJsonBool(body.get(), "drop", fault.drop);
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

}  // namespace

void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder) {
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    Store* s = &store;
    WireRecorder* w = &recorder;
    server.Get("/devices", [s](Req, Res r) { ListDevices(*s, r); });
    server.Put(R"(/devices/([^/]+)/connections-password)",
               [s](Req q, Res r) { SetConnectionsPassword(*s, q, r); });
    server.Post(R"(/devices/([^/]+)/requests)", [s](Req q, Res r) { CreateRequest(*s, q, r); });
    server.Get("/requests", [s](Req, Res r) { ListRequests(*s, r); });
    server.Delete(R"(/requests/([^/]+))", [s](Req q, Res r) { EndRequest(*s, q, r); });
    server.Get("/log", [w](Req, Res r) { ListLog(*w, r); });
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
