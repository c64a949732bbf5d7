#pragma once
// The agent's command line: splitting the platform's text into words,
// reading the options, and the usage text.

#include <string>
#include <vector>

#include "base/constants.h"

namespace lumivo {

class SystemPort;

struct CommandLineOptions {
    CommandLineOptions()
        : debug(false),
          save(false),
          showGui(false),
          printVersion(false),
          printHelp(false),
          connectionsOverride(notSet),
          passwordOverride(notSet),
          vpnOverride(notSet) {}
    bool debug;
    bool save;
    bool showGui;
    bool printVersion;
    bool printHelp;
    std::string connectionsOverride;
    std::string passwordOverride;
    std::string vpnOverride;
};

// Splits `text` into words; an empty text splits `programPath` instead.
std::vector<std::wstring> SplitCommandLine(const std::wstring& text,
                                           const std::wstring& programPath);
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& words);
// The program's file name: the path cut after its last "\" or "/", narrowed.
std::string ProgramFileName(const std::wstring& programPath);
void PrintUsage(SystemPort& system);

}  // namespace lumivo
