#include "base/console.h"

#include <cstdio>

namespace lumivo {

namespace {

// The console's own state, as a stream's state would be: where the text goes
// and whether it is dropped. Plain C streams rather than iostreams, so the
// agent does not pay for the C++ locale machinery at start-up.
struct Console {
    Console() : out(stdout), silenced(false) {}
    std::FILE* out;
    bool silenced;
};

Console& TheConsole() {
    static Console console;
    return console;
}

void Write(std::FILE* stream, const std::string& text) {
    if (TheConsole().silenced || stream == NULL) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    // Flushed at once: the output is read live through pipes and log files.
    std::fflush(stream);
}

}  // namespace

void WriteConsoleText(const std::string& text) { Write(TheConsole().out, text); }

void Log(const std::string& line) { WriteConsoleText(line + "\n"); }

void LogError(const std::string& line) { Write(stderr, line + "\n"); }

void SetDebugOutput(bool enabled) { TheConsole().silenced = !enabled; }

std::FILE* SetConsoleStream(std::FILE* stream) {
    std::FILE* previous = TheConsole().out;
    TheConsole().out = stream;
    return previous;
}

}  // namespace lumivo
