#pragma once
// Text conversions and JSON member readers shared by every subsystem.

#include <string>
#include <vector>

#include <cjson/cJSON.h>

#include "platform/portable.h"

namespace lumivo {

// Narrow to wide with the C library's multibyte conversion. On failure writes
// its own message line and gives the empty text.
std::wstring ToWide(const std::string& text);
// Wide to narrow, keeping the low 8 bits of each character.
std::string ToNarrow(const std::wstring& text);
std::string IntToText(int32 value);
// An unsigned number (an error code) as decimal text.
std::string UnsignedToText(unsigned long value);
// The lines of a text without their line feeds; a last line needs none.
std::vector<std::string> SplitLines(const std::string& text);

// The parsed tree, owned by the caller (cJSON_Delete), or null when the text is not JSON.
cJSON* ParseJson(const std::string& text);
bool GetJsonString(const cJSON* object, const char* name, std::string& out);
bool GetJsonInt(const cJSON* object, const char* name, int32& out);
bool GetJsonBool(const cJSON* object, const char* name, bool& out);
// An id the service issued: only a JSON number whose value is whole, not 0 and
// inside the signed 32-bit range. GetJsonInt would take 1.9 as 1 and clamp
// 1e12 to 2147483647, an id that names something else.
bool GetJsonId(const cJSON* object, const char* name, int32& out);

// Owns a cJSON tree for the scope of the function that parsed or built it.
class JsonTree : private NonCopyable {
  public:
    explicit JsonTree(cJSON* root) : root_(root) {}
    ~JsonTree() { cJSON_Delete(root_); }
    cJSON* get() const { return root_; }

  private:
    cJSON* root_;
};

// cJSON_Print's formatted text of a tree, freed with cJSON's allocator.
std::string PrintJson(const cJSON* item);

}  // namespace lumivo
