#include "devcloud/json_reply.h"

#include "base/text.h"

namespace lumivo::devcloud {

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
