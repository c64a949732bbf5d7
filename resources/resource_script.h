#pragma once
// Reads the agent's resource script: the dialog templates with their
// controls, and the icon and bitmap statements. The headless host builds its
// windows from these templates, so the script stays their only source.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumivo {

struct ControlTemplate {
    std::string text;       // the control's text; empty when it names a resource
    int imageResource = 0;  // the icon or bitmap number of a picture control
    int id = 0;
    std::string className;  // as written, e.g. "Button", "SysTabControl32"
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
};

struct DialogTemplate {
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::string caption;
    int fontSize = 0;
    std::string fontFace;
    std::vector<ControlTemplate> controls;
};

struct ResourceScript {
    std::vector<DialogTemplate> dialogs;
    std::map<int, std::string> icons;    // resource number to file name
    std::map<int, std::string> bitmaps;  // resource number to file name

    const DialogTemplate* FindDialog(int id) const;
};

// Parses the subset of the resource-script language that the agent's script
// uses, with the names that "#define" lines give numbers, also in the headers
// of `includes` (file name to text) that the script includes. On failure
// gives false and says where in `error`.
bool ParseResourceScript(const std::string& text, ResourceScript& out, std::string& error,
                         const std::map<std::string, std::string>& includes = {});

// The agent's own script and the header of names it includes, built into the program.
const std::string& EmbeddedResourceScript();
const std::map<std::string, std::string>& EmbeddedResourceHeaders();

}  // namespace lumivo
