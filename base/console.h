#pragma once
// The agent's console output: standard output, silenced after start-up
// unless the debug option is on.

#include <cstdio>
#include <string>

namespace lumivo {

// Writes one line followed by a single line feed.
void Log(const std::string& line);
// Writes text as it is (it carries its own line feeds).
void WriteConsoleText(const std::string& text);
// Writes one line to standard error, silenced as the console is.
void LogError(const std::string& line);
// True: console and standard error written again.
// False: every later write to either is dropped.
void SetDebugOutput(bool enabled);
// Sends the console's text to another stream (a test's capture file);
// returns the one it replaces.
std::FILE* SetConsoleStream(std::FILE* stream);

}  // namespace lumivo
