#pragma once
// The agent's console output: standard output, silenced after start-up
// unless the debug option is on.

#include <string>

namespace lumivo {

// Writes one line followed by a single line feed.
void Log(const std::string& line);
// Writes text as it is (it carries its own line feeds).
void WriteConsoleText(const std::string& text);
// True: standard output and standard error back in their good state.
// False: both in their fail state, so every later write is dropped.
void SetDebugOutput(bool enabled);

}  // namespace lumivo
