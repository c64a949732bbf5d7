#pragma once
// Captures what the agent writes to its console for the lifetime of the object.

#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/text.h"

namespace lumivo::test {

class ConsoleCapture {
  public:
    ConsoleCapture() : file_(std::tmpfile()), previous_(SetConsoleStream(file_)) {}
    ~ConsoleCapture() {
        SetConsoleStream(previous_);
        SetDebugOutput(true);
        if (file_ != nullptr) std::fclose(file_);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string Text() const {
        std::string text;
        if (file_ == nullptr) return text;
        std::fflush(file_);
        std::rewind(file_);
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) {
            text.append(buffer, got);
        }
        std::fseek(file_, 0, SEEK_END);
        return text;
    }
    // The lines written so far, without their line feeds.
    std::vector<std::string> Lines() const { return SplitLines(Text()); }
    // Starts over with an empty capture.
    void Clear() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = std::tmpfile();
        SetConsoleStream(file_);
    }

  private:
    std::FILE* file_;
    std::FILE* previous_;
};

}  // namespace lumivo::test
