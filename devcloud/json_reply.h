#pragma once
// JSON in and out of both listeners, on cJSON.

#include <memory>
#include <string>

#include <cjson/cJSON.h>
#include <httplib.h>

namespace lumivo::devcloud {

struct JsonDelete {
    void operator()(cJSON* tree) const { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

// The parsed text, or null when it is not JSON.
cJSON* ParseJson(const std::string& text);
// The member when it is a string (a bool); false otherwise, out unchanged.
bool GetString(const cJSON* object, const char* name, std::string& out);
bool GetBool(const cJSON* object, const char* name, bool& out);

// Compact JSON text of the tree; the tree stays the caller's.
std::string CompactJson(const cJSON* item);
// Answers with the tree's text, and frees the tree.
void SendJson(httplib::Response& res, int status, cJSON* tree);
// Answers {"message": text}.
void SendMessage(httplib::Response& res, int status, const std::string& text);

}  // namespace lumivo::devcloud
