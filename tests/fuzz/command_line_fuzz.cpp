// Fuzzes the command-line split and parse with arbitrary UTF-16 text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    auto words = lumivo::SplitCommandLine(text, L"\\Windows\\lumivo.exe");
    if (words.empty()) __builtin_trap();  // the first word is always produced
    lumivo::ParseCommandLine(words);
    lumivo::ProgramFileName(text);
    return 0;
}
