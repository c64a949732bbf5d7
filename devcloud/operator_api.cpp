// The operator's interface: devices, requests, the wire log and faults.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <set>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

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
        cJSON_AddStringToObject(item, "lastPoll", IsoTime(d.lastPollMs).c_str());
        // The agent polls only while its connections are on.
        cJSON_AddBoolToObject(item, "polling",
                              d.lastPollMs > 0 && now - d.lastPollMs <= onlineWindowMs);
        cJSON_AddStringToObject(item, "connectionsPassword", d.connectionsPassword.c_str());
        cJSON_AddStringToObject(item, "password", d.password.c_str());
        cJSON_AddStringToObject(item, "typeCode", d.typeCode.c_str());
        cJSON_AddStringToObject(item, "version", d.version.c_str());
        cJSON_AddItemToArray(list, item);
    }
    SendJson(res, 200, list);
}

void DeleteDevice(Store& store, const httplib::Request& req, httplib::Response& res) {
    int id = PathId(req.matches[1]);
    if (id == 0 || !store.DeleteDevice(id)) return SendMessage(res, 404, "Unknown device");
    SendJson(res, 200, cJSON_CreateObject());
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
        cJSON_AddStringToObject(item, "createdAt", IsoTime(r.createdMs).c_str());
        cJSON_AddStringToObject(item, "changedAt", IsoTime(r.changedMs).c_str());
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

std::string EntryJson(const LoggedRequest& e) {
    JsonTree item(cJSON_CreateObject());
    cJSON_AddNumberToObject(item.get(), "id", static_cast<double>(e.id));
    cJSON_AddStringToObject(item.get(), "method", e.method.c_str());
    cJSON_AddStringToObject(item.get(), "path", e.path.c_str());
    cJSON* headers = cJSON_AddArrayToObject(item.get(), "headers");
    for (const auto& [name, value] : e.headers) {
        cJSON* pair = cJSON_CreateArray();
        cJSON_AddItemToArray(pair, cJSON_CreateString(name.c_str()));
        cJSON_AddItemToArray(pair, cJSON_CreateString(value.c_str()));
        cJSON_AddItemToArray(headers, pair);
    }
    // JSON strings end at a NUL byte; the base64 forms are exact.
    cJSON_AddStringToObject(item.get(), "body", e.body.c_str());
    cJSON_AddStringToObject(item.get(), "bodyBase64", Base64(e.body).c_str());
    cJSON_AddStringToObject(item.get(), "headBase64", Base64(e.head).c_str());
    cJSON_AddBoolToObject(item.get(), "complete", e.complete);
    cJSON_AddNumberToObject(item.get(), "status", e.status);
    cJSON_AddNumberToObject(item.get(), "receivedMs", static_cast<double>(e.receivedMs));
    // The answer as it went out, split at the end of its head.
    std::size_t headEnd = e.reply.find("\r\n\r\n");
    headEnd = headEnd == std::string::npos ? e.reply.size() : headEnd + 4;
    const std::string replyBody = e.reply.substr(headEnd);
    cJSON_AddStringToObject(item.get(), "replyHeadBase64", Base64(e.reply.substr(0, headEnd)).c_str());
    cJSON_AddStringToObject(item.get(), "replyBody", replyBody.c_str());
    cJSON_AddStringToObject(item.get(), "replyBodyBase64", Base64(replyBody).c_str());
    cJSON_AddBoolToObject(item.get(), "replyTruncated", e.replyTruncated);
    return CompactJson(item.get());
}

// A non-negative decimal number, or false.
bool ParseCount(const std::string& text, unsigned long long& out) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), ::isdigit) || text.size() > 19)
        return false;
    out = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

// The log goes out entry by entry, so a large log never sits in memory a
// second time as one JSON text.
struct LogStream {
    std::vector<std::uint64_t> ids;
    std::size_t next = 0;  // 0 until the first part ("[") has gone
    bool anyWritten = false;
};

void ListLog(Store& store, WireRecorder& recorder, const std::string& prefix,
             const httplib::Request& req, httplib::Response& res) {
    int device = 0;
    if (req.has_param("device") && (device = PathId(req.get_param_value("device"))) == 0)
        return SendMessage(res, 400, "\"device\" must be a device id");
    unsigned long long since = 0, last = 0;
    if (req.has_param("since") && !ParseCount(req.get_param_value("since"), since))
        return SendMessage(res, 400, "\"since\" must be a log entry id (0 or more)");
    if (req.has_param("last") && (!ParseCount(req.get_param_value("last"), last) || last == 0))
        return SendMessage(res, 400, "\"last\" must be a number of entries (1 or more)");
    std::map<std::string, int> tokenOwners;
    auto stream = std::make_shared<LogStream>();
    // The first id still held: a client that shows older entries knows they went.
    res.set_header("X-Log-First-Id", std::to_string(recorder.FirstId()));
    stream->ids = recorder.Ids(since);
    if (device != 0) {
        // Filtered outside the log's lock: the device lookups ask the database.
        LoggedRequest entry;
        auto& ids = stream->ids;
        ids.erase(std::remove_if(ids.begin(), ids.end(), [&](std::uint64_t id) {
                      return !recorder.Find(id, entry) ||
                             DevicesOf(entry, prefix, store, tokenOwners).count(device) == 0;
                  }), ids.end());
    }
    if (last != 0 && stream->ids.size() > last)
        stream->ids.erase(stream->ids.begin(), stream->ids.end() - static_cast<long>(last));
    WireRecorder* w = &recorder;
    res.status = 200;
    res.set_chunked_content_provider(
        "application/json", [stream, w](std::size_t, httplib::DataSink& sink) {
            std::string chunk = stream->next == 0 ? "[" : "";
            LoggedRequest entry;
            // An entry that went from the log since the ids were taken is skipped.
            while (stream->next < stream->ids.size()) {
                if (!w->Find(stream->ids[stream->next++], entry)) continue;
                chunk += (stream->anyWritten ? "," : "") + EntryJson(entry);
                stream->anyWritten = true;
                break;
            }
            const bool finished = stream->next >= stream->ids.size();
            if (finished) chunk += "]";
            if (!sink.write(chunk.data(), chunk.size())) return false;
            if (finished) sink.done();
            return true;
        });
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
    // The page's address holds the token: it goes nowhere else.
    res.set_header("Referrer-Policy", "no-referrer");
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

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Two numeric addresses that are the same, whatever their spelling; an
// IPv4 address seen through an IPv6 socket counts as itself.
bool SameAddress(std::string a, std::string b) {
    for (std::string* text : {&a, &b})
        if (text->compare(0, 7, "::ffff:") == 0 && text->find('.') != std::string::npos)
            text->erase(0, 7);
    unsigned char x[16], y[16];
    for (int family : {AF_INET, AF_INET6})
        if (inet_pton(family, a.c_str(), x) == 1 && inet_pton(family, b.c_str(), y) == 1)
            return std::equal(x, x + (family == AF_INET ? 4 : 16), y);
    return false;
}

bool IsLoopback(const std::string& address) {
    return SameAddress(address, "::1") || address.compare(0, 4, "127.") == 0 ||
           address.compare(0, 11, "::ffff:127.") == 0;
}

// Whether "Host" names this side: the address the connection came in on,
// "localhost" when that is a loopback address, or this machine's name when
// every address is served. Any other name is how a page from elsewhere
// reaches a loopback service (DNS rebinding).
bool HostIsOurs(const httplib::Request& req, const OperatorSettings& settings) {
    const std::string host = Lower(req.get_header_value("Host"));
    std::string name, port;
    if (!host.empty() && host[0] == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return false;
        name = host.substr(1, close - 1);
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return false;
            port = host.substr(close + 2);
        }
    } else {
        const std::size_t colon = host.find(':');
        if (host.find(':', colon == std::string::npos ? colon : colon + 1) != std::string::npos)
            return false;
        name = host.substr(0, colon);
        if (colon != std::string::npos) port = host.substr(colon + 1);
    }
    const int ownPort = req.local_port > 0 ? req.local_port : settings.port;
    if (port.empty() ? ownPort != 80 : port != std::to_string(ownPort)) return false;
    if (name.empty()) return false;
    if (SameAddress(name, req.local_addr)) return true;
    if (name == "localhost") return IsLoopback(req.local_addr);
    if (settings.bindAddress == "0.0.0.0" || settings.bindAddress == "::") {
        char machine[256] = "";
        return gethostname(machine, sizeof machine - 1) == 0 && name == Lower(machine);
    }
    return false;
}

// Media type without parameters, lower case: "application/json; charset=utf-8"
// is "application/json".
std::string MediaType(const std::string& contentType) {
    std::string type = Lower(contentType.substr(0, contentType.find(';')));
    const std::size_t end = type.find_last_not_of(" \t");
    return end == std::string::npos ? std::string() : type.substr(0, end + 1);
}

// The checks every operator request passes before any route: a request
// from a web page of another origin, or under a name that is not this
// service's, gets nothing; the API needs the token and JSON.
httplib::Server::HandlerResponse Guard(const OperatorSettings& settings, const httplib::Request& q,
                                       httplib::Response& r) {
    using HandlerResponse = httplib::Server::HandlerResponse;
    if (!HostIsOurs(q, settings)) {
        SendMessage(r, 421, "Host must name this service, as in the address devcloud printed");
        return HandlerResponse::Handled;
    }
    if (q.has_header("Origin") &&
        Lower(q.get_header_value("Origin")) != "http://" + Lower(q.get_header_value("Host"))) {
        SendMessage(r, 403, "Requests from other web pages are refused");
        return HandlerResponse::Handled;
    }
    const bool reading = q.method == "GET" || q.method == "HEAD";
    // The console's page and assets hold nothing secret, and a browser cannot
    // send the token when it first opens the page: the page then sends it
    // with every call of the API.
    for (std::size_t i = 0; i < embeddedFileCount; ++i)
        if (reading && q.path == embeddedFiles[i].path) return HandlerResponse::Unhandled;
    if (!BearerMatches(q.get_header_value("Authorization"), settings.token)) {
        r.set_header("WWW-Authenticate", "Bearer");
        SendMessage(r, 401, "This needs the operator token: Authorization: Bearer <token>");
        return HandlerResponse::Handled;
    }
    if (!reading && MediaType(q.get_header_value("Content-Type")) != "application/json") {
        SendMessage(r, 415, "Changes need Content-Type: application/json");
        return HandlerResponse::Handled;
    }
    return HandlerResponse::Unhandled;
}

}  // namespace

void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder,
                           const OperatorSettings& settings) {
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    Store* s = &store;
    WireRecorder* w = &recorder;
    const std::string prefix = settings.devicePrefix;
    const OperatorSettings* guarded = &settings;
    server.set_pre_routing_handler([guarded](Req q, Res r) { return Guard(*guarded, q, r); });
    server.Get("/devices", [s](Req, Res r) { ListDevices(*s, r); });
    server.Delete(R"(/devices/([^/]+))", [s](Req q, Res r) { DeleteDevice(*s, q, r); });
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
