#include "base/console.h"

#include <iostream>

namespace lumivo {

void WriteConsoleText(const std::string& text) {
    std::cout << text;
    // Flushed at once: the output is read live through pipes and log files.
    std::cout.flush();
}

void Log(const std::string& line) { WriteConsoleText(line + "\n"); }

void SetDebugOutput(bool enabled) {
    if (enabled) {
        std::cout.clear();
        std::cerr.clear();
    } else {
        std::cout.setstate(std::ios::failbit);
        std::cerr.setstate(std::ios::failbit);
    }
}

}  // namespace lumivo
