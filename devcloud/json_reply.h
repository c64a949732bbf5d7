#pragma once
// JSON answers of both listeners.

#include <string>

#include <cjson/cJSON.h>
#include <httplib.h>

namespace lumivo::devcloud {

// Compact JSON text of the tree; the tree stays the caller's.
std::string CompactJson(const cJSON* item);
// Answers with the tree's text, and frees the tree.
void SendJson(httplib::Response& res, int status, cJSON* tree);
// Answers {"message": text}.
void SendMessage(httplib::Response& res, int status, const std::string& text);

}  // namespace lumivo::devcloud
