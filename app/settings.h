#pragma once
// The settings file "\BOOT\env.json" and the sign-in decision at start-up.

#include <string>

#include "app/agent.h"

namespace lumivo {

// Reads the whole file in text mode; false (with one line) when it cannot be
// opened or is longer than 64 KiB.
bool ReadTextFile(Agent& agent, const std::string& path, std::string& text);
// Replaces the file's content with `text` (up to its first NUL byte). The old
// content stays whole until the new one is on the medium; false, after one
// line that says so, when it could not be written or its folder not flushed.
bool WriteTextFile(Agent& agent, const std::string& path, const std::string& text);
// Writes the whole of agent.settings to the settings file. Always true: callers go on either way.
bool SaveSettings(Agent& agent);
// Loads the settings, applies the command-line overrides ("NOT_SET" when not
// given) and logs in or enrols, retrying every 30000 ms until one succeeds.
bool LoadSettingsAndSignIn(Agent& agent, const std::string& vpnOverride,
                           const std::string& connectionsOverride,
                           const std::string& passwordOverride);

}  // namespace lumivo
