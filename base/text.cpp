#include "base/text.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/console.h"

namespace lumivo {

std::wstring ToWide(const std::string& text) {
    std::size_t length = std::mbstowcs(NULL, text.c_str(), 0);
    if (length == static_cast<std::size_t>(-1)) {
        WriteConsoleText("Couldn't convert string\n");
        return std::wstring();
    }
    wchar_t* buffer = new (std::nothrow) wchar_t[length + 1];
    if (buffer == NULL) {
        WriteConsoleText("Memory allocation failure.\n");
        return std::wstring();
    }
    const bool converted =
        std::mbstowcs(buffer, text.c_str(), length + 1) != static_cast<std::size_t>(-1);
    std::wstring wide;
    if (converted) wide.assign(buffer, length);
    delete[] buffer;
    if (!converted) WriteConsoleText("Couldn't convert string\n");
    return wide;
}

std::string ToNarrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        narrow.push_back(static_cast<char>(static_cast<unsigned>(text[i]) & 0xFFu));
    }
    return narrow;
}

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

// int32 is int (platform/portable.h checks its width), so "%d" writes it;
// its longest text, "-2147483648", takes 12 of the buffer's 16 bytes.
std::string IntToText(int32 value) {
    char buffer[16];
    std::sprintf(buffer, "%d", value);
    return buffer;
}

std::string UnsignedToText(unsigned long value) {
    char buffer[24];
    std::sprintf(buffer, "%lu", value);
    return buffer;
}

cJSON* ParseJson(const std::string& text) { return cJSON_Parse(text.c_str()); }

bool GetJsonString(const cJSON* object, const char* name, std::string& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsString(item) || item->valuestring == NULL) return false;
    out = item->valuestring;
    return true;
}

bool GetJsonInt(const cJSON* object, const char* name, int32& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsNumber(item) || item->valueint == 0) return false;
    out = item->valueint;
    return true;
}

bool GetJsonId(const cJSON* object, const char* name, int32& out) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (!cJSON_IsNumber(item)) return false;
    const double value = item->valuedouble;
    if (!(value >= INT_MIN && value <= INT_MAX) || value != std::floor(value) || value == 0) {
        return false;
    }
    out = static_cast<int32>(value);
    return true;
}

bool GetJsonBool(const cJSON* object, const char* name, bool& out) {
    out = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(object, name)) != 0;
    return true;
}

std::string PrintJson(const cJSON* item) {
    char* printed = cJSON_Print(item);
    if (printed == NULL) return std::string();
    std::string text(printed);
    cJSON_free(printed);
    return text;
}

}  // namespace lumivo
