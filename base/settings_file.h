#pragma once
// The settings file "\BOOT\env.json": reading it into the agent's settings
// and writing them back.

#include <string>

#include "base/agent.h"

namespace lumivo {

// Reads the whole file in text mode; false (with one line) when it cannot be opened.
bool ReadTextFile(Agent& agent, const std::string& path, std::string& text);
// Replaces the file's content with `text` (up to its first NUL byte). The old
// content stays whole until the new one is on the medium; false when it could
// not be written, after one line that says so.
bool WriteTextFile(Agent& agent, const std::string& path, const std::string& text);
// Writes the whole of agent.settings to the settings file. Always true: callers go on either way.
bool SaveSettings(Agent& agent);
// Reads the settings file into agent.settings and logs what it read; false
// (agent.settings untouched) when the file cannot be opened.
bool LoadSettings(Agent& agent);

}  // namespace lumivo
