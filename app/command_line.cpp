#include "app/command_line.h"

#include "base/console.h"
#include "base/text.h"
#include "platform/system_port.h"

namespace lumivo {

namespace {

const std::size_t maxPathLength = 260;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reads one word after the first, from `i` on, by the backslash and quote rules.
std::wstring ReadWord(const std::wstring& text, std::size_t& i) {
    std::wstring word;
    bool quoted = false;
    const std::size_t n = text.size();
    while (i < n) {
        wchar_t c = text[i];
        if (!quoted && IsBlank(c)) break;
        if (c == L'\\') {
            std::size_t run = 0;
            while (i < n && text[i] == L'\\') {
                ++run;
                ++i;
            }
            if (i < n && text[i] == L'"') {
                word.append(run / 2, L'\\');
                if (run % 2 == 1) {
                    word.push_back(L'"');
                    ++i;
                }
                // An even run leaves the quote to open or close a quoted stretch.
            } else {
                word.append(run, L'\\');
            }
        } else if (c == L'"') {
            if (quoted && i + 1 < n && text[i + 1] == L'"') {
                word.push_back(L'"');
                i += 2;
                quoted = false;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            word.push_back(c);
            ++i;
        }
    }
    return word;
}

bool ReadBoolean(const std::string& value) { return value != "false"; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine,
                                           const std::wstring& programPath) {
    const std::wstring& text = commandLine.empty() ? programPath : commandLine;
    std::vector<std::wstring> words;
    std::size_t i = 0;
    const std::size_t n = text.size();

    // The first word (the program) follows a simpler rule than the rest.
    if (n > 0 && text[0] == L'"') {
        std::size_t end = text.find(L'"', 1);
        if (end == std::wstring::npos) end = n;
        words.push_back(text.substr(1, end - 1));
        i = end < n ? end + 1 : n;
    } else {
        while (i<n&& static_cast<unsigned>(text[i])> 32) ++i;
        words.push_back(text.substr(0, i));
    }

    while (true) {
        while (i < n && IsBlank(text[i])) ++i;
        if (i >= n) break;
        words.push_back(ReadWord(text, i));
    }
    return words;
}

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& words) {
    CommandLineOptions options;
    for (std::size_t w = 0; w < words.size(); ++w) {
        const std::wstring& word = words[w];
        std::size_t equals = word.find(L'=');
        std::wstring key = word.substr(0, equals);
        std::string value =
            equals == std::wstring::npos ? std::string() : ToNarrow(word.substr(equals + 1));
        if (key == L"-c") {
            options.connectionsOverride = value;
        } else if (key == L"-d") {
            options.debug = ReadBoolean(value);
        } else if (key == L"-g") {
            options.showGui = ReadBoolean(value);
        } else if (key == L"-h") {
            options.printHelp = ReadBoolean(value);
        } else if (key == L"-n") {
            options.vpnOverride = value;
        } else if (key == L"-p") {
            options.passwordOverride = value;
        } else if (key == L"-s") {
            options.save = ReadBoolean(value);
        } else if (key == L"-v") {
            options.printVersion = ReadBoolean(value);
        }
    }
    return options;
}

std::string ProgramFileName(const std::wstring& programPath) {
    std::wstring path = programPath.substr(0, maxPathLength);
    std::size_t cut = path.find_last_of(L"\\/");
    return ToNarrow(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

void PrintUsage(SystemPort& system) {
    Log("Usage of " + ProgramFileName(system.GetModuleFileName()));
    Log("  -c\tEnable the connection to the device. Default: false");
    Log("  -d\tStart the software in debug mode. Default: false");
    Log("  -g\tStart with the GUI visible. Default: false");
    Log("  -n\tEnable the VPN on the device. Default: false");
    Log("  -p string");
    Log("    \tConfigure a password to connect to the device. Default: (empty)");
    Log("  -s\tSave these argument as default. Default: false");
    Log("  -v\tPrint the software version and quit");
}

}  // namespace lumivo
