#include "devcloud/json_reply.h"

namespace lumivo::devcloud {

cJSON* ParseJson(const std::string& text) {
    return cJSON_ParseWithLength(text.data(), text.size());
}

bool GetString(const cJSON* object, const char* name, std::string& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
    out = item->valuestring;
    return true;
}

bool GetBool(const cJSON* object, const char* name, bool& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsBool(item)) return false;
    out = cJSON_IsTrue(item);
    return true;
}

std::string CompactJson(const cJSON* item) {
    char* printed = cJSON_PrintUnformatted(item);
    if (printed == nullptr) return std::string();
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

void SendJson(httplib::Response& res, int status, cJSON* tree) {
    JsonTree owner(tree);
    res.status = status;
    res.set_content(CompactJson(tree), "application/json");
}

void SendMessage(httplib::Response& res, int status, const std::string& text) {
    cJSON* tree = cJSON_CreateObject();
    cJSON_AddStringToObject(tree, "message", text.c_str());
    SendJson(res, status, tree);
}

}  // namespace lumivo::devcloud
