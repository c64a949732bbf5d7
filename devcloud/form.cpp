#include "devcloud/form.h"

namespace lumivo::devcloud {

bool FormValue(const std::string& body, const std::string& name, std::string& value) {
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t end = body.find('&', pos);
        if (end == std::string::npos) end = body.size();
        std::string pair = body.substr(pos, end - pos);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            value = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
            return true;
        }
        pos = end + 1;
    }
    return false;
}

namespace {

std::size_t TailStart(const std::string& body, const std::string& name) {
    const std::string first = name + "=";
    if (body.compare(0, first.size(), first) == 0) return 0;
    std::size_t at = body.find("&" + first);
    return at == std::string::npos ? std::string::npos : at + 1;
}

}  // namespace

bool FormTail(const std::string& body, const std::string& name, std::string& value) {
    std::size_t start = TailStart(body, name);
    if (start == std::string::npos) return false;
    value = body.substr(start + name.size() + 1);
    return true;
}

std::string FormHead(const std::string& body, const std::string& name) {
    std::size_t start = TailStart(body, name);
    if (start == std::string::npos) return body;
    return body.substr(0, start == 0 ? 0 : start - 1);
}

}  // namespace lumivo::devcloud
