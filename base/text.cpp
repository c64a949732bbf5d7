#include "base/text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "base/console.h"

namespace lumivo {

std::wstring ToWide(const std::string& text) {
    std::size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1)) {
        WriteConsoleText("Couldn't convert string\n");
        return std::wstring();
    }
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[length + 1]);
    if (!buffer) {
        WriteConsoleText("Memory allocation failure.\n");
        return std::wstring();
    }
    if (std::mbstowcs(buffer.get(), text.c_str(), length + 1) == static_cast<std::size_t>(-1)) {
        WriteConsoleText("Couldn't convert string\n");
        return std::wstring();
    }
    return std::wstring(buffer.get(), length);
}

std::string ToNarrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) narrow.push_back(static_cast<char>(static_cast<unsigned>(c) & 0xFFu));
    return narrow;
}

// "%d" of an int is the 32-bit id's text only where int is 32 bits wide, as
// on the board and every target built here.
static_assert(sizeof(int) == sizeof(std::int32_t), "int must be 32 bits");

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string IntToText(std::int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
    return buffer;
}

cJSON* ParseJson(const std::string& text) { return cJSON_Parse(text.c_str()); }

bool GetJsonString(const cJSON* object, const char* name, std::string& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsString(item) || item->valuestring == nullptr) return false;
    out = item->valuestring;
    return true;
}

bool GetJsonInt(const cJSON* object, const char* name, std::int32_t& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsNumber(item) || item->valueint == 0) return false;
    out = item->valueint;
    return true;
}

bool GetJsonId(const cJSON* object, const char* name, std::int32_t& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsNumber(item)) return false;
    const double value = item->valuedouble;
    if (!(value >= INT32_MIN && value <= INT32_MAX) || value != std::floor(value) || value == 0) {
        return false;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

bool GetJsonBool(const cJSON* object, const char* name, bool& out) {
    out = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(object, name)) != 0;
    return true;
}

std::string PrintJson(const cJSON* item) {
    char* printed = cJSON_Print(item);
    if (printed == nullptr) return std::string();
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

}  // namespace lumivo
