#pragma once
// Form bodies as the agent writes them: name=value pairs joined by "&",
// never percent-encoded, so nothing is decoded here.

#include <string>

namespace lumivo::devcloud {

// The value of the first pair named `name`, split on "&" and the first "=".
bool FormValue(const std::string& body, const std::string& name, std::string& value);
// The value of `name` running to the end of the body: the last field of a
// form may itself hold "&" and "=" (a password, JSON text).
bool FormTail(const std::string& body, const std::string& name, std::string& value);
// The body before the pair `name` starts (the whole body when there is none).
std::string FormHead(const std::string& body, const std::string& name);

}  // namespace lumivo::devcloud
