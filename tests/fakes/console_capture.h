#pragma once
// Captures what the agent writes to standard output for the lifetime of the object.

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace lumivo::test {

class ConsoleCapture {
  public:
    ConsoleCapture() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~ConsoleCapture() {
        std::cout.rdbuf(previous_);
        std::cout.clear();
        std::cerr.clear();
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string Text() const { return buffer_.str(); }
    // The lines written so far, without their line feeds.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(buffer_.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    void Clear() { buffer_.str(std::string()); }

  private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

}  // namespace lumivo::test
