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
// True when the lines go to a log that others read (the journal): from then
// on each line shows no secret given to MaskInConsole (nor one in a JSON
// reply's "password", "token", "connectionsPassword" or "preSharedKey"),
// no control character (each shown as \xHH) and at most 4096 bytes, cut with
// a marker. False (the start): the lines are written as they are.
void SetConsoleForJournal(bool enabled);
// A secret that lines for the journal show masked. Without the journal it is
// not kept.
void MaskInConsole(const std::string& secret);
// Sends the console's text to another stream (a test's capture file);
// returns the one it replaces.
std::FILE* SetConsoleStream(std::FILE* stream);

}  // namespace lumivo
