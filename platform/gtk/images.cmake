# Writes OUTPUT, a C++ file with the bytes of the images in FILES (a list of
# paths joined by |), for platform/gtk/images.h.
string(REPLACE "|" ";" FILES "${FILES}")
set(body "")
set(table "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  file(READ ${path} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "const unsigned char image${index}[] = {${bytes}};\n")
  string(APPEND table "    {\"${name}\", image${index}, sizeof image${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT} "// Generated from the resource folder's images.
#include \"platform/gtk/images.h\"

#include <cstring>

namespace lumivo {
namespace {
${body}
struct Entry {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
const Entry entries[] = {
${table}};
}  // namespace

bool EmbeddedImage(const std::string& name, const unsigned char*& data, std::size_t& size) {
    for (const Entry& entry : entries) {
        if (name == entry.name) {
            data = entry.data;
            size = entry.size;
            return true;
        }
    }
    return false;
}

}  // namespace lumivo
")
